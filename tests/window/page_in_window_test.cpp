// The about page activated inside a real parent window, as a property frame drives it: the
// calls a frame makes, activation in the wrong state, and what is left when the page goes.
#include <windows.h>

#include <gtest/gtest.h>

#include <ocidl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "filter/class_ids.h"
#include "support/property_page_fixture.h"
#include "module/module_harness.h"

namespace qp::test {
namespace {

using framework::testing::ReferencesOf;

constexpr int kAboutText = 1001;

std::string ControlText(HWND page, int id) {
  char text[512] = "";
  GetDlgItemTextA(page, id, text, sizeof text);
  return text;
}

// Records every font the page's dialog template hands to its text box.
std::vector<HFONT> fonts_given;
LRESULT CALLBACK RecordFonts(int code, WPARAM wparam, LPARAM lparam) {
  const auto* call = reinterpret_cast<const CWPSTRUCT*>(lparam);
  if (code == HC_ACTION && call->message == WM_SETFONT && call->wParam &&
      GetDlgCtrlID(call->hwnd) == kAboutText) {
    fonts_given.push_back(reinterpret_cast<HFONT>(call->wParam));
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

class PageInWindowTest : public PropertyPageFixture {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    parent_ = CreateWindowExW(0, L"STATIC", L"frame", WS_OVERLAPPEDWINDOW, 0, 0, 500, 300, nullptr,
                              nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, parent_);
    ShowWindow(parent_, SW_SHOWNORMAL);
    PropertyPageFixture::SetUp();
  }
  void TearDown() override {
    ReleaseObjects();
    DestroyWindow(parent_);
    ExpectModuleUnloadable();
    CoUninitialize();
  }

  HWND PageWindow() const { return GetWindow(parent_, GW_CHILD); }

  HWND parent_ = nullptr;
  const RECT rect_{10, 20, 310, 220};
};

TEST_F(PageInWindowTest, FollowsAFramesCallsFromSiteToRelease) {
  ASSERT_EQ(S_OK, page_->SetPageSite(site_));
  ASSERT_EQ(S_OK, page_->SetObjects(1, &filter_));

  PROPPAGEINFO info{};
  ASSERT_EQ(S_OK, page_->GetPageInfo(&info));
  EXPECT_EQ(sizeof(PROPPAGEINFO), info.cb);
  EXPECT_STREQ(L"General", info.pszTitle);
  // Measured from the dialog template, not the fallback size.
  EXPECT_GT(info.size.cx, 0);
  EXPECT_GT(info.size.cy, 0);
  EXPECT_FALSE(info.size.cx == 340 && info.size.cy == 150);
  EXPECT_EQ(nullptr, info.pszDocString);
  EXPECT_EQ(nullptr, info.pszHelpFile);
  CoTaskMemFree(info.pszTitle);

  ASSERT_EQ(S_OK, page_->Activate(parent_, &rect_, TRUE));
  HWND page = PageWindow();
  ASSERT_NE(nullptr, page);
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(page, kAboutText)));
  RECT placed;
  GetWindowRect(page, &placed);
  MapWindowPoints(nullptr, parent_, reinterpret_cast<POINT*>(&placed), 2);
  EXPECT_EQ(rect_.left, placed.left);
  EXPECT_EQ(rect_.bottom, placed.bottom);

  const std::string text = ControlText(page, kAboutText);
  EXPECT_EQ(0u, text.find("Quor Plemo Ver103\r\nAuthor  ")) << text;
  EXPECT_EQ(2, std::count(text.begin(), text.end(), '\n')) << text;
  EXPECT_EQ('/', text.back()) << text;

  // Filling the text box is no change of the user's.
  EXPECT_EQ(S_FALSE, page_->IsPageDirty());
  EXPECT_EQ(S_OK, page_->Apply());
  EXPECT_TRUE(site_->status_changes.empty());

  SendMessageW(page, WM_COMMAND, MAKEWPARAM(kAboutText, EN_SETFOCUS),
               reinterpret_cast<LPARAM>(GetDlgItem(page, kAboutText)));
  EXPECT_EQ(S_OK, page_->IsPageDirty());
  EXPECT_EQ(std::vector<DWORD>{PROPPAGESTATUS_DIRTY}, site_->status_changes);
  EXPECT_EQ(S_OK, page_->Apply());
  EXPECT_EQ(S_FALSE, page_->IsPageDirty());

  EXPECT_EQ(S_OK, page_->Show(SW_HIDE));
  EXPECT_FALSE(IsWindowVisible(page));
  EXPECT_EQ(S_OK, page_->Show(SW_SHOW));
  EXPECT_EQ(S_OK, page_->Deactivate());
  EXPECT_FALSE(IsWindow(page));
  EXPECT_EQ(S_OK, page_->SetObjects(0, nullptr));
  EXPECT_EQ(S_OK, page_->SetPageSite(nullptr));
  EXPECT_EQ(1, site_->References());
  // The page took no reference on the filter.
  EXPECT_EQ(1u, ReferencesOf(filter_));
}

TEST_F(PageInWindowTest, RefusesActivationInTheWrongState) {
  // No object yet: no window either.
  EXPECT_EQ(E_UNEXPECTED, page_->Activate(parent_, &rect_, FALSE));
  EXPECT_EQ(nullptr, PageWindow());
  ASSERT_EQ(S_OK, page_->SetObjects(1, &filter_));

  ASSERT_EQ(S_OK, page_->Activate(parent_, &rect_, FALSE));
  HWND page = PageWindow();
  EXPECT_EQ(E_UNEXPECTED, page_->Activate(parent_, &rect_, FALSE));
  EXPECT_EQ(page, PageWindow());
  EXPECT_EQ(nullptr, GetWindow(page, GW_HWNDNEXT));
  EXPECT_EQ(E_INVALIDARG, page_->Show(SW_MAXIMIZE));
  EXPECT_EQ(E_POINTER, page_->Move(nullptr));
  EXPECT_EQ(S_OK, page_->Deactivate());
  EXPECT_EQ(E_UNEXPECTED, page_->Deactivate());
  EXPECT_EQ(E_UNEXPECTED, page_->Show(SW_SHOW));
}

TEST_F(PageInWindowTest, LastReleaseLetsGoOfSiteAndWindow) {
  ASSERT_EQ(S_OK, page_->SetPageSite(site_));
  ASSERT_EQ(S_OK, page_->SetObjects(1, &filter_));
  EXPECT_EQ(2, site_->References());
  ASSERT_EQ(S_OK, page_->Activate(parent_, &rect_, FALSE));
  HWND page = PageWindow();
  ASSERT_NE(nullptr, page);

  // A frame that drops the page while it is still active: nothing may point at it later.
  EXPECT_EQ(0u, page_->Release());
  page_ = nullptr;
  EXPECT_EQ(1, site_->References());
  EXPECT_FALSE(IsWindow(page));
}

TEST_F(PageInWindowTest, MeasuringAndActivatingFreeTheDialogFont) {
  fonts_given.clear();
  HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, RecordFonts, nullptr, GetCurrentThreadId());
  ASSERT_NE(nullptr, hook);
  PROPPAGEINFO info{};
  ASSERT_EQ(S_OK, page_->GetPageInfo(&info));
  CoTaskMemFree(info.pszTitle);
  ASSERT_EQ(S_OK, page_->SetObjects(1, &filter_));
  ASSERT_EQ(S_OK, page_->Activate(parent_, &rect_, FALSE));
  ASSERT_EQ(S_OK, page_->Deactivate());
  UnhookWindowsHookEx(hook);

  ASSERT_EQ(2u, fonts_given.size());
  for (HFONT font : fonts_given) EXPECT_EQ(0u, GetObjectType(font)) << font;
}

}  // namespace
}  // namespace qp::test
