// The property page host: a page of a property frame whose content is a dialog resource of the
// module, with the hooks through which a concrete page fills and applies it.
#pragma once

#include <windows.h>

#include <ocidl.h>

#include <atomic>

#include "framework/com_object_base.h"
#include "platform/windows/com_ptr.h"

namespace qp::framework {

// One tab of a host's property frame. Inactive until Activate creates the dialog window as a
// child of the frame's window; Deactivate destroys it.
//
// Threads: every method, hook and the dialog procedure run on the frame's user-interface
// thread; only the reference count is interlocked, nothing is locked.
class DialogPropertyPage : public ComObjectBase, public IPropertyPage {
 public:
  QP_IUNKNOWN_FORWARDED_TO_OWNER

  // IPropertyPage
  // A site while one is held, or none while none is held: E_UNEXPECTED.
  HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite* site) override;
  // E_UNEXPECTED before SetObjects has given an object, or while a page window exists. The
  // modal flag is not used.
  HRESULT STDMETHODCALLTYPE Activate(HWND parent, LPCRECT rect, BOOL modal) override;
  HRESULT STDMETHODCALLTYPE Deactivate() override;
  // The title in task memory (the caller frees it) and the dialog's size in pixels.
  HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* info) override;
  // One object or none; no reference is kept on the object.
  HRESULT STDMETHODCALLTYPE SetObjects(ULONG count, IUnknown** objects) override;
  // SW_HIDE, SW_SHOW and SW_SHOWNORMAL only; others E_INVALIDARG.
  HRESULT STDMETHODCALLTYPE Show(UINT show_command) override;
  HRESULT STDMETHODCALLTYPE Move(LPCRECT rect) override;
  HRESULT STDMETHODCALLTYPE IsPageDirty() override;
  // Calls ApplyPageChanges only when dirty; E_UNEXPECTED without objects or site.
  HRESULT STDMETHODCALLTYPE Apply() override;
  HRESULT STDMETHODCALLTYPE Help(LPCOLESTR help_dir) override;
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* message) override;

 protected:
  // dialog_id and title_id: resource numbers of the module's dialog and title string.
  DialogPropertyPage(IUnknown* outer, int dialog_id, int title_id);
  ~DialogPropertyPage() override;

  HRESULT InnerQueryInterface(REFIID iid, void** out) override;
  // The page keeps its own count: the last release must still reach the hooks of the
  // concrete page (releasing the site and the objects) before the page is deleted.
  ULONG InnerAddRef() override;
  ULONG InnerRelease() override;

  // Hooks; the defaults do nothing and return S_OK.
  virtual HRESULT ObjectsConnected(IUnknown* object);
  virtual HRESULT ObjectsReleased();
  // The page window exists and its controls can be filled.
  virtual HRESULT PageActivated();
  // Before the page window is destroyed.
  virtual HRESULT PageDeactivated();
  // Called by Apply while dirty; success clears the dirty flag.
  virtual HRESULT ApplyPageChanges();
  // Every message of the page's dialog, WM_INITDIALOG included; the result is the dialog
  // procedure's. The base keeps WS_EX_CONTROLPARENT set and defers to the default handling.
  virtual INT_PTR PageMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  // The page's dialog window, known from its WM_INITDIALOG on; controls are addressed
  // through it.
  HWND DialogWindow() const { return dialog_window_; }
  // Records unapplied changes and tells the frame so that it can enable its Apply button.
  void MarkDirty();

 private:
  static INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  // Creates the dialog as a child of `parent`; `page` becomes the window's user data, null
  // for a window that is only measured.
  HWND CreatePageDialog(HWND parent, DialogPropertyPage* page) const;

  std::atomic<LONG> references_{0};
  ComPtr<IPropertyPageSite> site_;
  // The window made by Activate; null while inactive, and while Deactivate changes its style.
  HWND page_window_ = nullptr;
  HWND dialog_window_ = nullptr;
  bool dirty_ = false;
  const int title_id_;
  const int dialog_id_;
  bool objects_set_ = false;
};

}  // namespace qp::framework
