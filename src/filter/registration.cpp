// DllRegisterServer and DllUnregisterServer: the class keys, the general filter registration,
// then the filter's entry in the video input device category, where capture applications
// look for cameras.
#include <windows.h>

#include <strmif.h>
#include <uuids.h>

#include "filter/class_ids.h"
#include "filter/module_classes.h"
#include "framework/module_server.h"

namespace {

using qp::framework::CategoryEntryStep;
using qp::framework::ClassKeysStep;
using qp::framework::DefaultCategoryStep;
using qp::framework::RegistrationStep;

// The module's registration in the order it is written. The device entry comes last: a
// capture application that lists it must find the class keys it points at. Every step
// initialises COM for itself when the calling thread has none.
class ModuleRegistration {
 public:
  explicit ModuleRegistration(const wchar_t* server_path)
      : filter_keys_(Classes()[0], server_path),
        page_keys_(Classes()[1], server_path),
        general_(Classes()[0]),
        device_(qp::filter::kVideoSourceFilterClassId, qp::filter::kFilterName,
                CLSID_VideoInputDeviceCategory, qp::filter::VideoInputDeviceRegistration()) {}

  std::span<RegistrationStep* const> Steps() { return steps_; }

 private:
  // The filter, then its about page.
  static qp::framework::ClassTable Classes() { return qp::filter::ModuleClasses(); }

  ClassKeysStep filter_keys_;
  ClassKeysStep page_keys_;
  DefaultCategoryStep general_;
  CategoryEntryStep device_;
  RegistrationStep* const steps_[4] = {&filter_keys_, &page_keys_, &general_, &device_};
};

}  // namespace

extern "C" {

// A failure takes back what this call added and keeps what was registered before it, so
// that no device is listed whose class cannot be created.
HRESULT STDAPICALLTYPE DllRegisterServer() {
  wchar_t path[MAX_PATH];
  const HRESULT hr = qp::framework::ModuleServerPath(path);
  if (FAILED(hr)) return hr;
  ModuleRegistration registration(path);
  return qp::framework::WriteRegistration(registration.Steps());
}

// Removes what it can, device entry first. Unregistering what is not registered gives the
// filter mapper's answer for the missing device entry.
HRESULT STDAPICALLTYPE DllUnregisterServer() {
  ModuleRegistration registration(L"");
  return qp::framework::RemoveRegistration(registration.Steps());
}

}  // extern "C"
