// Files beside the module, grabber graphs and the glyph-sheet text reader.
#include "capture/capture_harness.h"

#include <dvdmedia.h>

#include <cmath>
#include <cstdio>
#include <fstream>

#include "filter/class_ids.h"
#include "module/module_harness.h"
#include "support/bmp_file.h"
#include "support/first_pin.h"

namespace qp::test {

namespace {

std::wstring BesideModule(const std::string& name) {
  std::wstring path = ModulePath();
  path.erase(path.find_last_of(L'\\') + 1);
  return path + std::wstring(name.begin(), name.end());
}

struct Rgb {
  uint8_t r, g, b;
};

// A 24-bit bottom-up bitmap file; `pixel` takes (x, y) counted from the top-left corner.
template <typename Pixel>
std::string Bitmap24(int width, int height, Pixel pixel) {
  const std::vector<uint8_t> bytes =
      MakeBmp(BmpLayout{width, height}, [&](int32_t x, int32_t y, uint8_t* bgr) {
        const Rgb c = pixel(x, y);
        bgr[0] = c.b;
        bgr[1] = c.g;
        bgr[2] = c.r;
      });
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

ModuleFiles::~ModuleFiles() {
  for (const std::wstring& path : paths_) DeleteFileW(path.c_str());
}

void ModuleFiles::Remember(const std::wstring& path) { paths_.push_back(path); }

void ModuleFiles::Raw(const std::string& name, const std::string& bytes) {
  const std::wstring path = BesideModule(name);
  std::ofstream(path.c_str(), std::ios::binary) << bytes;
  Remember(path);
}

void ModuleFiles::Ini(const std::string& text) { Raw("QuorPlemo.ini", text); }

void ModuleFiles::Background(const std::string& name, int width, int height) {
  static const Rgb kBars[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
  Raw(name, Bitmap24(width, height, [&](int x, int y) {
        const int bar = x * 4 / width;
        return kBars[y < height / 2 ? bar : 3 - bar];
      }));
}

void ModuleFiles::GlyphSheet(const std::string& name) {
  Raw(name, Bitmap24(32 * kCell, 16 * kCell, [](int x, int y) {
        const int column = x / kCell, row = y / kCell;
        const uint8_t grey = uint8_t(x % kCell < kCell / 2 ? 8 * column : 16 * row);
        return Rgb{grey, grey, grey};
      }));
}

std::string OnePresetIni(int width, int height, const std::string& fcc,
                         const std::string& extra_preset, const std::string& extra_main) {
  return "[MAIN]\npreset_num=1\n" + extra_main +
         "[PRESET_01]\nenable=1\nw=" + std::to_string(width) + "\nh=" + std::to_string(height) +
         "\nfcc=" + fcc + "\nbmp=qp_bg.bmp\nfont=qp_font.bmp\n" + extra_preset;
}

HRESULT CreateSource(ComPtr<IBaseFilter>& filter) {
  ComPtr<IClassFactory> factory;
  HRESULT hr = Module().DllGetClassObject(filter::kVideoSourceFilterClassId, IID_IClassFactory,
                                          reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
}

HRESULT SampleLog::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == __uuidof(ISampleGrabberCB)) {
    *out = static_cast<ISampleGrabberCB*>(this);
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

HRESULT SampleLog::SampleCB(double, IMediaSample* sample) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  Entry entry;
  entry.arrival = now.QuadPart;
  entry.time_result = sample->GetTime(&entry.start, &entry.stop);
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  const long length = sample->GetActualDataLength();
  size_t index;
  EnterCriticalSection(&lock_);
  index = entries_.size();
  entries_.push_back(entry);
  if (index == kept_frame_ && data) kept_.assign(data, data + length);
  LeaveCriticalSection(&lock_);
  OnFrame(index, entry, data, length);
  return S_OK;
}

std::vector<SampleLog::Entry> SampleLog::Entries() {
  EnterCriticalSection(&lock_);
  std::vector<Entry> copy = entries_;
  LeaveCriticalSection(&lock_);
  return copy;
}

std::vector<uint8_t> SampleLog::KeptFrame() {
  EnterCriticalSection(&lock_);
  std::vector<uint8_t> copy = kept_;
  LeaveCriticalSection(&lock_);
  return copy;
}

size_t SampleLog::Count() {
  EnterCriticalSection(&lock_);
  const size_t count = entries_.size();
  LeaveCriticalSection(&lock_);
  return count;
}

bool SampleLog::WaitFor(size_t count, DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  while (Count() < count) {
    if (GetTickCount() - start > timeout_ms) return false;
    Sleep(5);
  }
  return true;
}

GrabberGraph::~GrabberGraph() {
  Stop();
  CoTaskMemFree(connected.pbFormat);
  if (connected.pUnk) connected.pUnk->Release();
}

HRESULT GrabberGraph::Add(IBaseFilter* source, SampleLog* log) {
  HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                reinterpret_cast<void**>(&graph));
  if (FAILED(hr)) return hr;
  graph.As(control);
  if (FAILED(hr = CoCreateInstance(kSampleGrabberClassId, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IBaseFilter, reinterpret_cast<void**>(&grabber_filter))) ||
      FAILED(hr = CoCreateInstance(kNullRendererClassId, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IBaseFilter, reinterpret_cast<void**>(&renderer))) ||
      FAILED(hr = grabber_filter.As(grabber)) || FAILED(hr = grabber->SetCallback(log, 0)) ||
      FAILED(hr = graph->AddFilter(source, L"Quor Plemo")) ||
      FAILED(hr = graph->AddFilter(grabber_filter.Get(), L"Grabber")) ||
      FAILED(hr = graph->AddFilter(renderer.Get(), L"Renderer"))) {
    return hr;
  }
  return S_OK;
}

HRESULT GrabberGraph::ConnectDirect(IBaseFilter* source) {
  ComPtr<IPin> out = FirstPin(source, PINDIR_OUTPUT);
  ComPtr<IPin> grab_in = FirstPin(grabber_filter.Get(), PINDIR_INPUT);
  ComPtr<IPin> grab_out = FirstPin(grabber_filter.Get(), PINDIR_OUTPUT);
  ComPtr<IPin> render_in = FirstPin(renderer.Get(), PINDIR_INPUT);
  if (!out || !grab_in || !grab_out || !render_in) return E_UNEXPECTED;
  HRESULT hr = graph->ConnectDirect(out.Get(), grab_in.Get(), nullptr);
  if (SUCCEEDED(hr)) hr = graph->ConnectDirect(grab_out.Get(), render_in.Get(), nullptr);
  if (SUCCEEDED(hr)) hr = grabber->GetConnectedMediaType(&connected);
  return hr;
}

HRESULT GrabberGraph::RenderCapture(IBaseFilter* source) {
  ComPtr<ICaptureGraphBuilder2> builder;
  HRESULT hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICaptureGraphBuilder2, reinterpret_cast<void**>(&builder));
  if (SUCCEEDED(hr)) hr = builder->SetFiltergraph(graph.Get());
  if (SUCCEEDED(hr)) {
    hr = builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source,
                               grabber_filter.Get(), renderer.Get());
  }
  if (SUCCEEDED(hr)) hr = grabber->GetConnectedMediaType(&connected);
  return hr;
}

void GrabberGraph::Stop() {
  if (control) control->Stop();
  if (grabber) grabber->SetCallback(nullptr, 0);
}

BITMAPINFOHEADER BitmapHeader(const AM_MEDIA_TYPE& type) {
  if (type.formattype == FORMAT_VideoInfo2 && type.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
    return reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat)->bmiHeader;
  }
  if (type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
    return reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
  }
  return {};
}

std::string ReadText(const std::vector<uint8_t>& frame, const AM_MEDIA_TYPE& type, int x, int y,
                     int count) {
  const BITMAPINFOHEADER header = BitmapHeader(type);
  const int width = header.biWidth, height = std::abs(header.biHeight);
  const bool rgb = header.biCompression == BI_RGB;
  const int stride = rgb ? (width * header.biBitCount + 31) / 32 * 4 : width * 2;
  const bool luma_first = header.biCompression == MAKEFOURCC('Y', 'U', 'Y', '2') ||
                          header.biCompression == MAKEFOURCC('Y', 'V', 'Y', 'U');
  // The sheet's grey at a frame position; the studio-range luma is taken back to 0..255.
  auto grey = [&](int px, int line) -> double {
    const size_t row = size_t(rgb ? height - 1 - line : line);
    const size_t at =
        row * stride + size_t(rgb ? px * header.biBitCount / 8 : 2 * px + (luma_first ? 0 : 1));
    if (at >= frame.size()) return -100.0;
    return rgb ? frame[at] : (frame[at] - 16) * 255.0 / 219.0;
  };
  std::string text;
  char band = 'w';
  for (int i = 0; i < count; ++i) {
    const int cx = x + i * kCell;
    const double left = grey(cx + 1, y + 3), right = grey(cx + 5, y + 3);
    const long column = std::lround(left / 8), row = std::lround(right / 16);
    if (std::fabs(left - 8.0 * column) > 3 || std::fabs(right - 16.0 * row) > 5 || column < 0 ||
        column > 31 || row < 0 || row > 15) {
      text += '?';
      continue;
    }
    const char cell_band = "wrgbyi"[row / 3];
    if (cell_band != band) {
      text += '#';
      text += cell_band;
      band = cell_band;
    }
    text += char(32 + 32 * (row % 3) + column);
  }
  return text;
}

int Cells(const std::string& text) {
  int cells = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '#')
      ++i;
    else
      ++cells;
  }
  return cells;
}

}  // namespace qp::test
