// A property frame's page site as the page tests see it: it records the status changes.
#pragma once

#include <windows.h>

#include <ocidl.h>

#include <vector>

#include "framework/fake_com.h"
#include "module/module_harness.h"

namespace qp::test {

class FakePageSite final : public framework::testing::FakeComObject<IPropertyPageSite> {
 public:
  HRESULT STDMETHODCALLTYPE OnStatusChange(DWORD flags) override {
    status_changes.push_back(flags);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetLocaleID(LCID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPageContainer(IUnknown**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*) override { return E_NOTIMPL; }

  std::vector<DWORD> status_changes;
};

// An object made by the module's class factory for `class_id`, or null.
template <typename Interface>
Interface* CreateFromModule(const CLSID& class_id, REFIID iid) {
  IClassFactory* factory = nullptr;
  if (FAILED(Module().DllGetClassObject(class_id, IID_IClassFactory,
                                        reinterpret_cast<void**>(&factory)))) {
    return nullptr;
  }
  Interface* object = nullptr;
  factory->CreateInstance(nullptr, iid, reinterpret_cast<void**>(&object));
  factory->Release();
  return object;
}

}  // namespace qp::test
