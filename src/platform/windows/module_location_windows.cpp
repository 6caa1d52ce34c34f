// The module's own file on Windows: the handle DllMain saves, or the executable in tests.
#include "platform/module_location.h"

#include <windows.h>

#include <atomic>
#include <climits>

namespace qp::platform {
namespace {
std::atomic<ModuleHandle> saved_module{nullptr};
}  // namespace

void SaveOwnModule(ModuleHandle module) { saved_module = module; }

ModuleHandle OwnModule() {
  ModuleHandle module = saved_module;
  if (module != nullptr) return module;
  // Not loaded as the module (test programs): the module that holds this code.
  HMODULE holder = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&SaveOwnModule), &holder);
  return holder;
}

bool ModuleFileName(ModuleHandle module, char* dest, std::size_t size) {
  if (size == 0) return false;
  dest[0] = '\0';
  DWORD capacity = size > UINT_MAX ? UINT_MAX : static_cast<DWORD>(size);
  DWORD length = GetModuleFileNameA(static_cast<HMODULE>(module), dest, capacity);
  if (length == 0) {
    dest[0] = '\0';
    return false;
  }
  dest[size - 1] = '\0';  // XP-style truncation leaves no terminator
  return true;
}

}  // namespace qp::platform
