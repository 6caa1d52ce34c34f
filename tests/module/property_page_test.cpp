// The about page's COM rules that hold without any window: the page site, the objects, the
// calls that need an active page, and the clean-up of the last release.
#include <windows.h>

#include <gtest/gtest.h>

#include <ocidl.h>

#include "filter/class_ids.h"
#include "support/property_page_fixture.h"
#include "module/module_harness.h"

namespace qp::test {
namespace {

using framework::testing::ReferencesOf;

class PropertyPageTest : public PropertyPageFixture {
 protected:
  const RECT rect_{0, 0, 100, 100};
};

TEST_F(PropertyPageTest, ReportsItsTitleInTaskMemory) {
  EXPECT_EQ(E_POINTER, page_->GetPageInfo(nullptr));
  PROPPAGEINFO info{};
  ASSERT_EQ(S_OK, page_->GetPageInfo(&info));
  EXPECT_EQ(sizeof(PROPPAGEINFO), info.cb);
  EXPECT_STREQ(L"General", info.pszTitle);
  EXPECT_GT(info.size.cx, 0);
  EXPECT_GT(info.size.cy, 0);
  EXPECT_EQ(0u, info.dwHelpContext);
  CoTaskMemFree(info.pszTitle);
}

TEST_F(PropertyPageTest, HoldsOneSiteAtATime) {
  EXPECT_EQ(E_UNEXPECTED, page_->SetPageSite(nullptr));
  ASSERT_EQ(S_OK, page_->SetPageSite(site_));
  EXPECT_EQ(2, site_->References());
  FakePageSite* other = new FakePageSite;
  EXPECT_EQ(E_UNEXPECTED, page_->SetPageSite(other));
  EXPECT_EQ(1, other->References());
  other->Release();
  EXPECT_EQ(S_OK, page_->SetPageSite(nullptr));
  EXPECT_EQ(1, site_->References());
  EXPECT_EQ(E_UNEXPECTED, page_->SetPageSite(nullptr));
}

TEST_F(PropertyPageTest, RefusesCallsOutOfOrder) {
  IUnknown* none = nullptr;
  EXPECT_EQ(E_POINTER, page_->SetObjects(1, nullptr));
  EXPECT_EQ(E_POINTER, page_->SetObjects(1, &none));
  IUnknown* two[] = {filter_, filter_};
  EXPECT_EQ(E_UNEXPECTED, page_->SetObjects(2, two));

  // No object: no activation, and no window is even tried for.
  EXPECT_EQ(E_UNEXPECTED, page_->Activate(nullptr, &rect_, FALSE));
  EXPECT_EQ(E_POINTER, page_->Activate(nullptr, nullptr, FALSE));
  EXPECT_EQ(E_UNEXPECTED, page_->Deactivate());
  EXPECT_EQ(E_UNEXPECTED, page_->Show(SW_SHOW));
  EXPECT_EQ(E_UNEXPECTED, page_->Move(&rect_));
  EXPECT_EQ(E_POINTER, page_->Move(nullptr));

  // Apply needs the objects and a site; while nothing changed it has nothing to do.
  EXPECT_EQ(E_UNEXPECTED, page_->Apply());
  ASSERT_EQ(S_OK, page_->SetObjects(1, &filter_));
  EXPECT_EQ(E_UNEXPECTED, page_->Apply());
  ASSERT_EQ(S_OK, page_->SetPageSite(site_));
  EXPECT_EQ(S_FALSE, page_->IsPageDirty());
  EXPECT_EQ(S_OK, page_->Apply());
  EXPECT_TRUE(site_->status_changes.empty());
  EXPECT_EQ(S_OK, page_->SetObjects(0, nullptr));
  EXPECT_EQ(E_UNEXPECTED, page_->Apply());

  EXPECT_EQ(E_NOTIMPL, page_->Help(L""));
  EXPECT_EQ(E_NOTIMPL, page_->TranslateAccelerator(nullptr));
  EXPECT_EQ(S_OK, page_->SetPageSite(nullptr));
}

TEST_F(PropertyPageTest, LastReleaseLetsGoOfTheSite) {
  ASSERT_EQ(S_OK, page_->SetPageSite(site_));
  ASSERT_EQ(S_OK, page_->SetObjects(1, &filter_));
  // The page keeps no reference on the object it shows.
  EXPECT_EQ(1u, ReferencesOf(filter_));
  EXPECT_EQ(2, site_->References());
  EXPECT_EQ(S_FALSE, Module().DllCanUnloadNow());
  EXPECT_EQ(0u, page_->Release());
  page_ = nullptr;
  EXPECT_EQ(1, site_->References());
}

}  // namespace
}  // namespace qp::test
