// Entry point of QuorPlemo.ax: remembers the module's own handle, by which the module finds
// its INI file and pictures beside it.
#include <windows.h>

#include "platform/module_location.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) {
    qp::platform::SaveOwnModule(instance);
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}
