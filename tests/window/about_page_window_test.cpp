// The filter's pages opened in the platform's own property frame, on a real display: the tab,
// the about text, the dirty flag after a command notification, and a screenshot of the page.
// Everything that touches the frame runs in a thread timer on the frame's own thread, since
// the frame's message loop is modal; a watchdog ends the process if the frame never closes.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "filter/class_ids.h"
#include "support/fake_com.h"
#include "module/module_harness.h"
#include "support/bmp_file.h"
#include "support/watchdog.h"

namespace qp::test {
namespace {

using filter::kAboutPageClassId;
using filter::kVideoSourceFilterClassId;
using framework::testing::FakeComObject;

constexpr int kAboutText = 1001;
constexpr UINT kTickMs = 100;
// Ticks to wait for the frame and its page before giving up.
constexpr int kMaxWaitTicks = 150;
constexpr DWORD kWatchdogMs = 60000;
constexpr char kScreenshotFile[] = "about_page.bmp";

// Hands the frame the module's page and keeps a reference, so the test can ask the page
// about its state while the frame shows it.
class RecordingFactory final : public FakeComObject<IClassFactory> {
 public:
  explicit RecordingFactory(IClassFactory* module_factory) : module_factory_(module_factory) {}
  ~RecordingFactory() override {
    if (page) page->Release();
    module_factory_->Release();
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    HRESULT hr = module_factory_->CreateInstance(outer, iid, out);
    if (SUCCEEDED(hr) && !page) {
      static_cast<IUnknown*>(*out)->QueryInterface(IID_IPropertyPage,
                                                   reinterpret_cast<void**>(&page));
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

  IPropertyPage* page = nullptr;

 private:
  IClassFactory* module_factory_;
};

// What the timer steps saw; checked after the frame has closed.
struct Observed {
  RecordingFactory* factory = nullptr;
  int ticks = 0;
  int step = 0;
  HWND frame = nullptr;
  HWND text_box = nullptr;
  std::wstring tab_title;
  std::string about_text;
  HRESULT dirty_before = E_FAIL;
  HRESULT dirty_after_command = E_FAIL;
  HRESULT apply = E_FAIL;
  HRESULT dirty_after_apply = E_FAIL;
  size_t screenshot_colours = 0;
  bool screenshot_written = false;
  bool closed_on_time_out = false;
} observed;

BOOL CALLBACK FindFrame(HWND window, LPARAM) {
  wchar_t caption[128] = L"";
  GetWindowTextW(window, caption, 128);
  if (IsWindowVisible(window) && wcsstr(caption, L"Quor Plemo")) {
    observed.frame = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK FindTextBox(HWND window, LPARAM) {
  wchar_t class_name[32] = L"";
  GetClassNameW(window, class_name, 32);
  if (GetDlgCtrlID(window) == kAboutText && lstrcmpiW(class_name, L"Edit") == 0) {
    observed.text_box = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK FindTabTitle(HWND window, LPARAM) {
  wchar_t class_name[32] = L"";
  GetClassNameW(window, class_name, 32);
  if (lstrcmpiW(class_name, WC_TABCONTROLW) != 0) return TRUE;
  wchar_t title[64] = L"";
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = title;
  item.cchTextMax = 64;
  if (SendMessageW(window, TCM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) {
    observed.tab_title = title;
  }
  return FALSE;
}

// The window as the display shows it, read back from the screen, as a 32-bit BMP. Returns
// the number of distinct colours, so a blank capture shows.
size_t SaveScreenshot(HWND window, const char* path) {
  RECT bounds;
  GetWindowRect(window, &bounds);
  const int width = bounds.right - bounds.left;
  const int height = bounds.bottom - bounds.top;
  if (width <= 0 || height <= 0) return 0;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, bounds.left, bounds.top, SRCCOPY);
  SelectObject(memory, old);

  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;  // bottom-up, as BMP files are usually read
  header.biPlanes = 1;
  header.biBitCount = 32;
  header.biCompression = BI_RGB;
  std::vector<DWORD> pixels(static_cast<size_t>(width) * height);
  GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&header),
            DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  // GetDIBits leaves the fourth byte 0, which readers of 32-bit BMPs take for transparency.
  for (DWORD& pixel : pixels) pixel |= 0xFF000000;

  const std::vector<uint8_t> file =
      MakeBmp(BmpLayout{width, height, 32}, [&](int32_t x, int32_t y_from_top, uint8_t* bgra) {
        const DWORD pixel = pixels[static_cast<size_t>(height - 1 - y_from_top) * width + x];
        std::memcpy(bgra, &pixel, sizeof pixel);
      });
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  observed.screenshot_written = out.good();

  std::set<DWORD> colours;
  for (DWORD pixel : pixels) colours.insert(pixel & 0xFFFFFF);
  return colours.size();
}

void CloseFrame() {
  if (observed.frame) PostMessageW(observed.frame, PSM_PRESSBUTTON, PSBTN_OK, 0);
}

// One step per tick, so the frame paints between them.
void CALLBACK Step(HWND, UINT, UINT_PTR, DWORD) {
  ++observed.ticks;
  IPropertyPage* page = observed.factory->page;
  switch (observed.step) {
    case 0:
      if (!observed.frame) EnumThreadWindows(GetCurrentThreadId(), FindFrame, 0);
      if (observed.frame) EnumChildWindows(observed.frame, FindTextBox, 0);
      if (observed.text_box && page) {
        EnumChildWindows(observed.frame, FindTabTitle, 0);
        char text[512] = "";
        GetWindowTextA(observed.text_box, text, sizeof text);
        observed.about_text = text;
        observed.dirty_before = page->IsPageDirty();
        ++observed.step;
      } else if (observed.ticks > kMaxWaitTicks) {
        observed.closed_on_time_out = true;
        observed.step = 99;
        CloseFrame();
      }
      break;
    case 1:
      SendMessageW(GetParent(observed.text_box), WM_COMMAND, MAKEWPARAM(kAboutText, EN_SETFOCUS),
                   reinterpret_cast<LPARAM>(observed.text_box));
      observed.dirty_after_command = page->IsPageDirty();
      observed.apply = page->Apply();
      observed.dirty_after_apply = page->IsPageDirty();
      RedrawWindow(observed.frame, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_FRAME);
      ++observed.step;
      break;
    case 2:
      // A tick after painting, so the display has caught up.
      GdiFlush();
      observed.screenshot_colours = SaveScreenshot(observed.frame, kScreenshotFile);
      ++observed.step;
      CloseFrame();
      break;
    default: break;
  }
}

TEST(AboutPageWindowTest, ShowsInThePlatformFrame) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  IClassFactory* module_factory = nullptr;
  ASSERT_EQ(S_OK, Module().DllGetClassObject(kAboutPageClassId, IID_IClassFactory,
                                             reinterpret_cast<void**>(&module_factory)));
  observed.factory = new RecordingFactory(module_factory);
  // Registered for this process only: the frame finds the page without any registry entry.
  DWORD cookie = 0;
  ASSERT_EQ(S_OK, CoRegisterClassObject(kAboutPageClassId, observed.factory, CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie));

  IClassFactory* filter_factory = nullptr;
  ASSERT_EQ(S_OK, Module().DllGetClassObject(kVideoSourceFilterClassId, IID_IClassFactory,
                                             reinterpret_cast<void**>(&filter_factory)));
  IUnknown* filter = nullptr;
  ASSERT_EQ(S_OK, filter_factory->CreateInstance(nullptr, IID_IUnknown,
                                                 reinterpret_cast<void**>(&filter)));
  filter_factory->Release();
  ISpecifyPropertyPages* pages_source = nullptr;
  ASSERT_EQ(S_OK, filter->QueryInterface(IID_ISpecifyPropertyPages,
                                         reinterpret_cast<void**>(&pages_source)));
  CAUUID pages{};
  ASSERT_EQ(S_OK, pages_source->GetPages(&pages));
  pages_source->Release();

  HRESULT frame_result;
  {
    Watchdog dog(kWatchdogMs, "the property frame");
    const UINT_PTR timer = SetTimer(nullptr, 0, kTickMs, Step);
    ASSERT_NE(0u, timer);
    frame_result = OleCreatePropertyFrame(nullptr, 40, 40, L"Quor Plemo", 1, &filter, pages.cElems,
                                          pages.pElems, LOCALE_USER_DEFAULT, 0, nullptr);
    KillTimer(nullptr, timer);
  }
  CoTaskMemFree(pages.pElems);

  EXPECT_EQ(S_OK, frame_result);
  EXPECT_FALSE(observed.closed_on_time_out) << "no frame or no text box appeared";
  EXPECT_EQ(L"General", observed.tab_title);
  EXPECT_EQ(0u, observed.about_text.find("Quor Plemo Ver103\r\nAuthor  ")) << observed.about_text;
  EXPECT_EQ(S_FALSE, observed.dirty_before);
  EXPECT_EQ(S_OK, observed.dirty_after_command);
  EXPECT_EQ(S_OK, observed.apply);
  EXPECT_EQ(S_FALSE, observed.dirty_after_apply);
  EXPECT_TRUE(observed.screenshot_written);
  // Frame face, text box background and text at least: a blank capture has one colour.
  EXPECT_GE(observed.screenshot_colours, 3u);

  EXPECT_EQ(S_OK, CoRevokeClassObject(cookie));
  observed.factory->Release();
  EXPECT_EQ(0u, filter->Release());
  CoUninitialize();
  EXPECT_EQ(S_OK, Module().DllCanUnloadNow());
}

}  // namespace
}  // namespace qp::test
