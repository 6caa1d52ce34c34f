// DllRegisterServer and DllUnregisterServer over the module's registration steps.
#include <windows.h>

#include "filter/module_registration.h"

extern "C" {

// A failure takes back what this call added and keeps what was registered before it, so
// that no device is listed whose class cannot be created.
HRESULT STDAPICALLTYPE DllRegisterServer() {
  wchar_t path[MAX_PATH];
  const HRESULT hr = qp::framework::ModuleServerPath(path);
  if (FAILED(hr)) return hr;
  qp::filter::ModuleRegistration registration(path);
  return qp::framework::WriteRegistration(registration.Steps());
}

// Removes the device entry first, then what it points at. An entry that cannot be removed
// keeps the class keys and gives its failure: a listed device must stay creatable.
// Unregistering what is not registered gives the filter mapper's answer for the missing
// device entry.
HRESULT STDAPICALLTYPE DllUnregisterServer() {
  qp::filter::ModuleRegistration registration(L"");
  return qp::framework::RemoveRegistration(registration.Steps());
}

}  // extern "C"
