// The property page host: identity, the IPropertyPage state machine and the dialog procedure.
#include "framework/dialog_property_page.h"

#include <algorithm>

#include "framework/module_server.h"
#include "platform/module_location.h"

namespace qp::framework {
namespace {

// The size reported when the dialog cannot be measured, in pixels.
constexpr SIZE kDefaultPageSize = {340, 150};
// Longest title taken from the string table, in characters.
constexpr int kMaxTitle = 255;

HINSTANCE ModuleInstance() { return static_cast<HINSTANCE>(platform::OwnModule()); }

// The title string in task memory, or null when that memory cannot be had. A missing string
// gives an empty title.
wchar_t* LoadTitle(int title_id) {
  wchar_t title[kMaxTitle + 1] = L"";
  if (PlatformId() == VER_PLATFORM_WIN32_NT) {
    LoadStringW(ModuleInstance(), title_id, title, kMaxTitle + 1);
  } else {
    char narrow[kMaxTitle + 1] = "";
    if (LoadStringA(ModuleInstance(), title_id, narrow, kMaxTitle + 1) > 0 &&
        MultiByteToWideChar(CP_ACP, 0, narrow, -1, title, kMaxTitle + 1) == 0) {
      title[0] = L'\0';
    }
  }
  const size_t bytes = (lstrlenW(title) + 1) * sizeof(wchar_t);
  auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
  if (copy) CopyMemory(copy, title, bytes);
  return copy;
}

}  // namespace

DialogPropertyPage::DialogPropertyPage(IUnknown* outer, int dialog_id, int title_id)
    : ComObjectBase(outer), title_id_(title_id), dialog_id_(dialog_id) {}

DialogPropertyPage::~DialogPropertyPage() = default;

HRESULT DialogPropertyPage::InnerQueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IPropertyPage) return HandOut(static_cast<IPropertyPage*>(this), out);
  return ComObjectBase::InnerQueryInterface(iid, out);
}

ULONG DialogPropertyPage::InnerAddRef() {
  return static_cast<ULONG>(std::max<LONG>(++references_, 1));
}

ULONG DialogPropertyPage::InnerRelease() {
  const LONG count = --references_;
  if (count != 0) return static_cast<ULONG>(std::max<LONG>(count, 1));
  // Calls made during the clean-up below must not bring the count to 0 a second time.
  references_ = 1;
  // A frame that lets go of an active page would leave a window whose dialog procedure
  // points at freed memory.
  if (page_window_) Deactivate();
  SetPageSite(nullptr);
  SetObjects(0, nullptr);
  delete this;
  return 0;
}

// IPropertyPage

HRESULT DialogPropertyPage::SetPageSite(IPropertyPageSite* site) {
  if (!site) {
    if (!site_) return E_UNEXPECTED;
    site_.Reset();
    return S_OK;
  }
  if (site_) return E_UNEXPECTED;
  site_ = ComPtr<IPropertyPageSite>(site);
  return S_OK;
}

HRESULT DialogPropertyPage::Activate(HWND parent, LPCRECT rect, BOOL /*modal*/) {
  if (!rect) return E_POINTER;
  if (!objects_set_ || page_window_) return E_UNEXPECTED;
  HWND window = CreatePageDialog(parent, this);
  if (!window) return E_OUTOFMEMORY;
  page_window_ = window;
  PageActivated();
  Move(rect);
  return Show(SW_SHOWNORMAL);
}

HRESULT DialogPropertyPage::Deactivate() {
  if (!page_window_) return E_UNEXPECTED;
  HWND window = page_window_;
  // Cleared meanwhile, or the WM_STYLECHANGING handling would put the bit straight back.
  page_window_ = nullptr;
  SetWindowLongPtrW(window, GWL_EXSTYLE,
                    GetWindowLongPtrW(window, GWL_EXSTYLE) & ~LONG_PTR{WS_EX_CONTROLPARENT});
  page_window_ = window;
  PageDeactivated();
  DestroyWindow(window);
  page_window_ = nullptr;
  return S_OK;
}

HRESULT DialogPropertyPage::GetPageInfo(PROPPAGEINFO* info) {
  if (!info) return E_POINTER;
  wchar_t* title = LoadTitle(title_id_);
  if (!title) return E_OUTOFMEMORY;
  info->cb = sizeof(PROPPAGEINFO);
  info->pszTitle = title;
  info->size = kDefaultPageSize;
  info->pszDocString = nullptr;
  info->pszHelpFile = nullptr;
  info->dwHelpContext = 0;
  // The template has no visible style, so the measured window never shows.
  if (HWND window = CreatePageDialog(GetDesktopWindow(), nullptr)) {
    RECT bounds;
    if (GetWindowRect(window, &bounds)) {
      info->size = {bounds.right - bounds.left, bounds.bottom - bounds.top};
    }
    DestroyWindow(window);
  }
  return S_OK;
}

HRESULT DialogPropertyPage::SetObjects(ULONG count, IUnknown** objects) {
  if (count == 1) {
    if (!objects || !objects[0]) return E_POINTER;
    objects_set_ = true;
    return ObjectsConnected(objects[0]);
  }
  if (count == 0) {
    objects_set_ = false;
    return ObjectsReleased();
  }
  return E_UNEXPECTED;
}

HRESULT DialogPropertyPage::Show(UINT show_command) {
  if (!page_window_) return E_UNEXPECTED;
  if (show_command != SW_HIDE && show_command != SW_SHOWNORMAL && show_command != SW_SHOW) {
    return E_INVALIDARG;
  }
  ShowWindow(page_window_, show_command);
  InvalidateRect(page_window_, nullptr, TRUE);
  return S_OK;
}

HRESULT DialogPropertyPage::Move(LPCRECT rect) {
  if (!rect) return E_POINTER;
  if (!page_window_) return E_UNEXPECTED;
  MoveWindow(page_window_, rect->left, rect->top, rect->right - rect->left,
             rect->bottom - rect->top, TRUE);
  return S_OK;
}

HRESULT DialogPropertyPage::IsPageDirty() { return dirty_ ? S_OK : S_FALSE; }

HRESULT DialogPropertyPage::Apply() {
  if (!objects_set_ || !site_) return E_UNEXPECTED;
  if (!dirty_) return S_OK;
  HRESULT hr = ApplyPageChanges();
  if (SUCCEEDED(hr)) dirty_ = false;
  return hr;
}

HRESULT DialogPropertyPage::Help(LPCOLESTR /*help_dir*/) { return E_NOTIMPL; }

HRESULT DialogPropertyPage::TranslateAccelerator(MSG* /*message*/) { return E_NOTIMPL; }

// Hooks

HRESULT DialogPropertyPage::ObjectsConnected(IUnknown* /*object*/) { return S_OK; }
HRESULT DialogPropertyPage::ObjectsReleased() { return S_OK; }
HRESULT DialogPropertyPage::PageActivated() { return S_OK; }
HRESULT DialogPropertyPage::PageDeactivated() { return S_OK; }
HRESULT DialogPropertyPage::ApplyPageChanges() { return S_OK; }

INT_PTR DialogPropertyPage::PageMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  // Still inside CreateDialog: leave everything to the dialog's own handling.
  if (!page_window_) return 0;
  // The frame's keyboard navigation only enters a child that is a control parent.
  if (message == WM_STYLECHANGING && wparam == static_cast<WPARAM>(GWL_EXSTYLE)) {
    reinterpret_cast<STYLESTRUCT*>(lparam)->styleNew |= WS_EX_CONTROLPARENT;
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void DialogPropertyPage::MarkDirty() {
  dirty_ = true;
  if (site_) site_->OnStatusChange(PROPPAGESTATUS_DIRTY);
}

INT_PTR CALLBACK DialogPropertyPage::DialogProcedure(HWND window, UINT message, WPARAM wparam,
                                                     LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lparam);
    auto* page = reinterpret_cast<DialogPropertyPage*>(lparam);
    if (!page) return TRUE;
    page->dialog_window_ = window;
  }
  auto* page = reinterpret_cast<DialogPropertyPage*>(GetWindowLongPtrW(window, DWLP_USER));
  // Unhandled, so the dialog's own handling runs: answering TRUE here would skip its clean-up
  // at WM_NCDESTROY and leak the template's font with every measured window.
  if (!page) return FALSE;
  return page->PageMessage(window, message, wparam, lparam);
}

HWND DialogPropertyPage::CreatePageDialog(HWND parent, DialogPropertyPage* page) const {
  return CreateDialogParamW(ModuleInstance(), MAKEINTRESOURCEW(dialog_id_), parent, DialogProcedure,
                            reinterpret_cast<LPARAM>(page));
}

}  // namespace qp::framework
