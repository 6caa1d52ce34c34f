// The filter's only property page: its name, version, author and web address, read-only.
#pragma once

#include "framework/dialog_property_page.h"

namespace qp::filter {

// Threads: as DialogPropertyPage, the frame's user-interface thread.
class AboutPage final : public framework::DialogPropertyPage {
 public:
  explicit AboutPage(IUnknown* outer);

 protected:
  // The object (the filter) is neither queried nor kept.
  HRESULT ObjectsConnected(IUnknown* object) override;
  HRESULT PageActivated() override;
  // Any command notification, focus included, counts as a change, so the frame offers Apply.
  INT_PTR PageMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) override;
};

// The class table's create function: the page's non-delegating IUnknown, or null with
// E_OUTOFMEMORY in *result.
IUnknown* CreateAboutPage(IUnknown* outer, HRESULT* result);

}  // namespace qp::filter
