// The about page: fills its one text box when the frame shows it.
#include "filter/about_page.h"

#include <cstdio>
#include <new>

#include "filter/resource_ids.h"

namespace qp::filter {
namespace {

constexpr char kProductName[] = "Quor Plemo";
constexpr char kVersion[] = "103";
constexpr char kAuthor[] = "The Quor Plemo developers";
constexpr char kWebAddress[] = "https://quorplemo.example.org/";

}  // namespace

AboutPage::AboutPage(IUnknown* outer)
    : DialogPropertyPage(outer, IDD_ABOUT_PAGE, IDS_ABOUT_TITLE) {}

HRESULT AboutPage::ObjectsConnected(IUnknown* object) { return object ? S_OK : E_POINTER; }

HRESULT AboutPage::PageActivated() {
  char text[260];
  std::snprintf(text, sizeof text, "%s Ver%s\r\nAuthor  %s\r\n%s", kProductName, kVersion, kAuthor,
                kWebAddress);
  SetDlgItemTextA(DialogWindow(), IDC_ABOUT_TEXT, text);
  return S_OK;
}

INT_PTR AboutPage::PageMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_COMMAND) MarkDirty();
  return DialogPropertyPage::PageMessage(window, message, wparam, lparam);
}

IUnknown* CreateAboutPage(IUnknown* outer, HRESULT* result) {
  auto* page = new (std::nothrow) AboutPage(outer);
  if (!page) {
    if (result) *result = E_OUTOFMEMORY;
    return nullptr;
  }
  return page->Inner();
}

}  // namespace qp::filter
