// Entry point and class-object exports of the module.
#include <windows.h>

#include "filter/module_classes.h"

extern "C" {

// The saved handle is how the module finds its INI file and pictures beside it.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  qp::framework::ModuleEntryPoint(qp::filter::ModuleClasses(), instance, reason);
  return TRUE;
}

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID class_id, REFIID iid, void** out) {
  return qp::framework::GetModuleClassObject(qp::filter::ModuleClasses(), class_id, iid, out);
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() { return qp::framework::ModuleCanUnloadNow(); }

}  // extern "C"
