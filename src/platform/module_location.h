// Where the module's own file lies: the handle the entry point saves and the file path behind it.
#pragma once

#include <cstddef>

namespace qp::platform {

// HMODULE on Windows; elsewhere any address inside the shared object or executable.
using ModuleHandle = void*;

// Paths are narrow ANSI strings of at most 259 characters plus the terminator.
constexpr std::size_t kMaxPath = 260;

#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// Saved by the module entry point; until then (tests, native builds) the module that holds
// this code is used.
void SaveOwnModule(ModuleHandle module);
ModuleHandle OwnModule();

// Full path of the module file that `module` denotes, cut to `size` - 1 characters and
// NUL-terminated. False (and an empty string) when the platform cannot tell.
bool ModuleFileName(ModuleHandle module, char* dest, std::size_t size);

}  // namespace qp::platform
