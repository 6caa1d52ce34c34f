// Resource numbers shared by the module's resource script and its code.
#pragma once

// String table: the about page's tab title, "General".
#define IDS_ABOUT_TITLE 101
// Dialog: the about page's content.
#define IDD_ABOUT_PAGE 104
// The about page's read-only text box.
#define IDC_ABOUT_TEXT 1001
