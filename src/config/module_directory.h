// The directory of the module's own file: where the INI file and the pictures are looked for.
#pragma once

#include <cstddef>

#include "platform/module_location.h"

namespace qp::config {

// The directory part of `path` (drive and directories), without a trailing separator:
// C:\filters\x.ax gives C:\filters, C:\x.ax gives C:, and a name without any directory gives
// the empty string. On Windows both '\' and '/' separate; elsewhere only '/'.
void DirectoryOfPath(const char* path, char* dest, std::size_t size);

// The directory of the module file that `module` denotes, as DirectoryOfPath gives it.
// Always fills `dest` (the empty string when the system cannot tell).
void ModuleDirectory(char (&dest)[platform::kMaxPath], platform::ModuleHandle module);

}  // namespace qp::config
