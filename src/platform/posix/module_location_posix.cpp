// The module's own file on POSIX systems: the shared object or executable holding the code.
#include "platform/module_location.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace qp::platform {
namespace {
std::atomic<ModuleHandle> saved_module{nullptr};
}  // namespace

void SaveOwnModule(ModuleHandle module) { saved_module = module; }

ModuleHandle OwnModule() {
  ModuleHandle module = saved_module;
  return module != nullptr ? module : reinterpret_cast<ModuleHandle>(&SaveOwnModule);
}

bool ModuleFileName(ModuleHandle module, char* dest, std::size_t size) {
  if (size == 0) return false;
  dest[0] = '\0';
  Dl_info info{};
  if (module == nullptr || dladdr(module, &info) == 0 || info.dli_fname == nullptr) return false;
  // dli_fname may be relative for the main program; make it absolute like GetModuleFileName.
  char* resolved = realpath(info.dli_fname, nullptr);
  const char* name = resolved != nullptr ? resolved : info.dli_fname;
  std::size_t length = std::strlen(name);
  if (length > size - 1) length = size - 1;
  std::memcpy(dest, name, length);
  dest[length] = '\0';
  std::free(resolved);
  return true;
}

}  // namespace qp::platform
