// DllRegisterServer and DllUnregisterServer: the class keys and general filter registration,
// then the filter's entry in the video input device category, where capture applications
// look for cameras.
#include <windows.h>

#include <strmif.h>
#include <uuids.h>

#include "filter/class_ids.h"
#include "filter/module_classes.h"
#include "framework/com_ptr.h"

namespace {

using qp::framework::ComPtr;

// Uses the caller's COM initialisation.
HRESULT UpdateDeviceEntry(bool registering) {
  ComPtr<IFilterMapper2> mapper;
  HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IFilterMapper2, reinterpret_cast<void**>(&mapper));
  if (FAILED(hr)) return hr;
  if (!registering) {
    return mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, qp::filter::kFilterName,
                                    qp::filter::kVideoSourceFilterClassId);
  }
  return mapper->RegisterFilter(qp::filter::kVideoSourceFilterClassId, qp::filter::kFilterName,
                                nullptr, &CLSID_VideoInputDeviceCategory,
                                qp::filter::kFilterName,
                                &qp::filter::VideoInputDeviceRegistration());
}

}  // namespace

extern "C" {

// A registration that fails part-way is taken back whole, so that no class key points at a
// module that capture applications cannot find, or the other way round.
HRESULT STDAPICALLTYPE DllRegisterServer() {
  HRESULT hr = qp::framework::RegisterModuleClasses(qp::filter::ModuleClasses(), true);
  if (SUCCEEDED(hr)) hr = UpdateDeviceEntry(true);
  if (FAILED(hr)) {
    UpdateDeviceEntry(false);
    qp::framework::RegisterModuleClasses(qp::filter::ModuleClasses(), false);
  }
  return hr;
}

// Unregistering what is not registered gives the filter mapper's answer for the missing
// device entry.
HRESULT STDAPICALLTYPE DllUnregisterServer() {
  HRESULT hr = qp::framework::RegisterModuleClasses(qp::filter::ModuleClasses(), false);
  if (FAILED(hr)) return hr;
  return UpdateDeviceEntry(false);
}

}  // extern "C"
