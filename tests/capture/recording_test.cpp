// A recording made the way applications make one: the enumerated capture device, the capture
// graph builder, the sample grabber and the AVIFile library. The file is checked afterwards
// with ffprobe and ffmpeg by check_recording.sh.
#include <windows.h>

#include <gtest/gtest.h>

#include <dshow.h>
#include <dvdmedia.h>
#include <vfw.h>

#include "capture/capture_harness.h"
#include "module/module_harness.h"

namespace qp::test {
namespace {

// Writes the grabbed frames that start before `length` to an AVI video stream, on the
// streaming thread, and signals `done` at the first frame after them.
class AviRecorder : public SampleLog {
 public:
  explicit AviRecorder(REFERENCE_TIME length) : length_(length) {}
  ~AviRecorder() override { CloseHandle(done); }
  // Before the graph runs.
  void Attach(PAVISTREAM stream) { stream_ = stream; }
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  LONG written = 0;
  LONG failures = 0;

 protected:
  void OnFrame(size_t index, const Entry& entry, const BYTE* data, long length) override {
    if (entry.start >= length_) {
      SetEvent(done);
    } else if (FAILED(AVIStreamWrite(stream_, LONG(index), 1, const_cast<BYTE*>(data), length,
                                     AVIIF_KEYFRAME, nullptr, nullptr))) {
      InterlockedIncrement(&failures);
    } else {
      InterlockedIncrement(&written);
    }
  }

 private:
  REFERENCE_TIME length_;
  PAVISTREAM stream_ = nullptr;
};

// An AVI file with one stream, closed when done with or when a check gives up early.
struct AviFile {
  PAVIFILE file = nullptr;
  PAVISTREAM stream = nullptr;
  ~AviFile() { Close(); }
  void Close() {
    if (stream) AVIStreamRelease(stream);
    if (file) AVIFileRelease(file);
    stream = nullptr;
    file = nullptr;
  }
};

// The filter as applications find it: the "Quor Plemo" entry of the video input devices.
ComPtr<IBaseFilter> BindDevice() {
  ComPtr<ICreateDevEnum> devices;
  ComPtr<IEnumMoniker> monikers;
  if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                              IID_ICreateDevEnum, reinterpret_cast<void**>(&devices))) ||
      devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) != S_OK) {
    return {};
  }
  ComPtr<IMoniker> moniker;
  while (monikers->Next(1, &moniker, nullptr) == S_OK) {
    ComPtr<IPropertyBag> bag;
    VARIANT name;
    VariantInit(&name);
    ComPtr<IBaseFilter> filter;
    if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                         reinterpret_cast<void**>(&bag))) &&
        SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR &&
        lstrcmpW(name.bstrVal, L"Quor Plemo") == 0) {
      moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
    }
    VariantClear(&name);
    if (filter) return filter;
  }
  return {};
}

class RecordingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    AVIFileInit();
  }
  void TearDown() override {
    Module().DllUnregisterServer();
    AVIFileExit();
    CoUninitialize();
  }
};

TEST_F(RecordingTest, ThreeSecondsOfYuy2AtNtscRateIntoAnAviFile) {
  ModuleFiles files;
  files.Ini(OnePresetIni(640, 480, "YUY2", "frame_time=333667\ncomment=rec\n"));
  files.Background("qp_bg.bmp", 640, 480);
  files.GlyphSheet("qp_font.bmp");
  ASSERT_EQ(S_OK, Module().DllRegisterServer());
  ComPtr<IBaseFilter> source = BindDevice();
  ASSERT_TRUE(source);

  AviFile avi;
  DeleteFileW(L"recording.avi");
  ASSERT_EQ(AVIERR_OK, AVIFileOpenW(&avi.file, L"recording.avi", OF_CREATE | OF_WRITE, nullptr));
  AviRecorder recorder(30000000);  // 3 s
  {
    GrabberGraph graph;
    ASSERT_EQ(S_OK, graph.Add(source.Get(), &recorder));
    ASSERT_EQ(S_OK, graph.RenderCapture(source.Get()));
    ASSERT_EQ(FORMAT_VideoInfo, graph.connected.formattype);
    const auto* video = reinterpret_cast<const VIDEOINFOHEADER*>(graph.connected.pbFormat);
    BITMAPINFOHEADER bitmap = video->bmiHeader;
    EXPECT_EQ(MEDIASUBTYPE_YUY2, graph.connected.subtype);

    // The stream's rate is the connected frame time, exactly.
    AVISTREAMINFOW info{};
    info.fccType = streamtypeVIDEO;
    info.fccHandler = bitmap.biCompression;
    info.dwScale = DWORD(video->AvgTimePerFrame);
    info.dwRate = 10000000;
    info.dwSuggestedBufferSize = bitmap.biSizeImage;
    SetRect(&info.rcFrame, 0, 0, bitmap.biWidth, bitmap.biHeight);
    ASSERT_EQ(AVIERR_OK, AVIFileCreateStreamW(avi.file, &avi.stream, &info));
    ASSERT_EQ(AVIERR_OK, AVIStreamSetFormat(avi.stream, 0, &bitmap, sizeof bitmap));
    recorder.Attach(avi.stream);

    Watchdog dog(15000, "recording");
    ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
    const DWORD recorded = WaitForSingleObject(recorder.done, 6000);
    graph.Stop();
    ASSERT_EQ(WAIT_OBJECT_0, recorded);
  }
  const std::vector<SampleLog::Entry> entries = recorder.Entries();
  avi.Close();

  std::printf("recorded %ld frames\n", recorder.written);
  EXPECT_EQ(0, recorder.failures);
  // 3 s at 30000/1001 fps: frames 0 to 89 start before 3 s; none may be missing.
  EXPECT_EQ(90, recorder.written);
  for (size_t n = 0; n < entries.size(); ++n) {
    ASSERT_EQ(REFERENCE_TIME(n) * 333667, entries[n].start) << "frame " << n;
  }
}

}  // namespace
}  // namespace qp::test
