// The about page's tests' start: the module's page and filter, a page site that records the
// status changes, and the check that the module can unload once they are gone.
#pragma once

#include <windows.h>

#include <ocidl.h>

#include <gtest/gtest.h>

#include <vector>

#include "support/fake_com.h"
#include "filter/class_ids.h"
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

class PropertyPageFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    page_ = CreateFromModule<IPropertyPage>(filter::kAboutPageClassId, IID_IPropertyPage);
    ASSERT_NE(nullptr, page_);
    filter_ = CreateFromModule<IUnknown>(filter::kVideoSourceFilterClassId, IID_IUnknown);
    ASSERT_NE(nullptr, filter_);
    site_ = new FakePageSite;
  }
  void TearDown() override {
    ReleaseObjects();
    ExpectModuleUnloadable();
  }
  // The page must go with its last reference, and the site keep only the test's.
  void ReleaseObjects() {
    if (page_) {
      EXPECT_EQ(0u, page_->Release());
    }
    if (filter_) filter_->Release();
    if (site_) {
      EXPECT_EQ(1, site_->References());
      site_->Release();
    }
    page_ = nullptr;
    filter_ = nullptr;
    site_ = nullptr;
  }
  void ExpectModuleUnloadable() { EXPECT_EQ(S_OK, Module().DllCanUnloadNow()); }

  IPropertyPage* page_ = nullptr;
  IUnknown* filter_ = nullptr;
  FakePageSite* site_ = nullptr;
};

}  // namespace qp::test
