// The filter in real graphs of the platform: the files it reads beside the module, graphs with
// the sample grabber, and a reader for the text it draws with the test's own glyph sheet.
#pragma once

#include <windows.h>

#include <dshow.h>
#include <qedit.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/windows/com_ptr.h"
#include "support/platform_filter_ids.h"
#include "support/watchdog.h"

namespace qp::test {

using framework::ComPtr;

// Glyph sheet of the tests: 256 x 128, so cells are 8 x 8. The left half of cell (row, column)
// is the grey 8·column, the right half the grey 16·row, so every drawn cell tells which glyph
// and which colour band it came from.
constexpr int kCell = 8;

// QuorPlemo.ini and pictures placed in the module's directory for one test, removed again
// afterwards so that every test starts without them.
class ModuleFiles {
 public:
  ModuleFiles() = default;
  ~ModuleFiles();
  ModuleFiles(const ModuleFiles&) = delete;
  ModuleFiles& operator=(const ModuleFiles&) = delete;

  void Ini(const std::string& text);
  // The background: four vertical bars red, green, blue, white in the top half and the same
  // colours in reverse order in the bottom half.
  void Background(const std::string& name, int width, int height);
  void GlyphSheet(const std::string& name);
  // Any file content, e.g. a broken picture.
  void Raw(const std::string& name, const std::string& bytes);

 private:
  void Remember(const std::wstring& path);
  std::vector<std::wstring> paths_;
};

// An INI of one preset. `extra_main` and `extra_preset` are appended to their sections.
std::string OnePresetIni(int width, int height, const std::string& fcc,
                         const std::string& extra_preset = "", const std::string& extra_main = "");

// The filter created through the module's class factory: S_OK and the filter, or the creation
// failure.
HRESULT CreateSource(ComPtr<IBaseFilter>& filter);

// Counts and timestamps every sample on the streaming thread; keeps a copy of one frame.
class SampleLog : public ISampleGrabberCB {
 public:
  struct Entry {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    HRESULT time_result = E_FAIL;
    LONGLONG arrival = 0;  // performance counter
  };
  explicit SampleLog(size_t kept_frame = 2) : kept_frame_(kept_frame) {
    InitializeCriticalSection(&lock_);
  }
  virtual ~SampleLog() { DeleteCriticalSection(&lock_); }
  SampleLog(const SampleLog&) = delete;
  SampleLog& operator=(const SampleLog&) = delete;

  // Not reference counted: the log outlives the graphs that call it.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE SampleCB(double time, IMediaSample* sample) override;
  HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE*, LONG) override { return E_NOTIMPL; }

  std::vector<Entry> Entries();
  std::vector<uint8_t> KeptFrame();
  size_t Count();
  // Waits until `count` samples came or `timeout_ms` passed; true when they came.
  bool WaitFor(size_t count, DWORD timeout_ms);

 protected:
  // Streaming thread, after the sample is logged; `index` counts from 0.
  virtual void OnFrame(size_t, const Entry&, const BYTE*, long) {}

 private:
  CRITICAL_SECTION lock_;
  std::vector<Entry> entries_;
  std::vector<uint8_t> kept_;
  size_t kept_frame_;
};

// source → sample grabber (callback `log`) → null renderer.
struct GrabberGraph {
  ComPtr<IGraphBuilder> graph;
  ComPtr<IMediaControl> control;
  ComPtr<ISampleGrabber> grabber;
  ComPtr<IBaseFilter> grabber_filter;
  ComPtr<IBaseFilter> renderer;
  AM_MEDIA_TYPE connected{};  // the grabber's input type once connected

  ~GrabberGraph();
  // A new graph with the source, the grabber (calling `log`) and the renderer in it.
  HRESULT Add(IBaseFilter* source, SampleLog* log);
  // Output pin → grabber → renderer with IGraphBuilder::ConnectDirect, no intermediate filter.
  HRESULT ConnectDirect(IBaseFilter* source);
  // The same chain through the capture graph builder's RenderStream(PIN_CATEGORY_CAPTURE).
  HRESULT RenderCapture(IBaseFilter* source);
  // Stops and detaches the callback; safe to call twice.
  void Stop();
};

// The text drawn with the test glyph sheet in cells of `count` glyphs from column `x` on the
// frame line `y` (from the top), written back in the colour-coded form: "#r" etc. wherever
// the band changes, starting in band w. Unreadable cells read as '?'. `frame` is one whole
// frame in the format of `type` (RGB bottom-up, 4:2:2 top-down).
std::string ReadText(const std::vector<uint8_t>& frame, const AM_MEDIA_TYPE& type, int x, int y,
                     int count);
// The number of cells a colour-coded text covers.
int Cells(const std::string& text);
// The picture size of a connected video type.
BITMAPINFOHEADER BitmapHeader(const AM_MEDIA_TYPE& type);

}  // namespace qp::test
