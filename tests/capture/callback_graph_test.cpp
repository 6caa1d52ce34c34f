// A downstream filter that calls back into the source from its streaming thread (the source's
// worker, inside Receive) while the application stops and starts the graph: the queries an
// application makes there must not wait for a control thread that is waiting for the worker.
#include <windows.h>

#include <gtest/gtest.h>

#include <dshow.h>

#include <atomic>
#include <random>
#include <string>

#include "capture/capture_harness.h"
#include "framework/media_type.h"

namespace qp::test {
namespace {

// Two presets of different frames: the second cannot be chosen while connected.
std::string TwoPresetIni() {
  return "[MAIN]\npreset_num=2\n"
         "[PRESET_01]\nenable=1\nw=320\nh=240\nfcc=YUY2\nframe_time=100\n"
         "bmp=qp_bg.bmp\nfont=qp_font.bmp\n"
         "[PRESET_02]\nenable=1\nw=640\nh=480\nfcc=RG24\nframe_time=25\n"
         "bmp=qp_bg.bmp\nfont=qp_font.bmp\n";
}

// On every sample: each pin, stream-configuration and filter query an application commonly
// makes from a grabber callback. Counts the calls and every answer that is not the expected one.
class CallingBackLog : public SampleLog {
 public:
  CallingBackLog(IBaseFilter* source, IPin* pin, IAMStreamConfig* config)
      : source_(source), pin_(pin), config_(config) {
    config_->GetStreamCaps(1, &other_, reinterpret_cast<BYTE*>(&caps_));
  }
  ~CallingBackLog() override { framework::DeleteType(other_); }

  std::atomic<bool> stopped{true};
  std::atomic<int> after_stop{0};
  std::atomic<int> rounds{0};
  std::atomic<int> unexpected{0};
  std::atomic<HRESULT> first_unexpected{S_OK};

 protected:
  void OnFrame(size_t, const Entry&, const BYTE*, long) override {
    if (stopped.load()) ++after_stop;
    // An application works on the frame first; the graph's Stop reaches the source meanwhile.
    Sleep(2);
    AM_MEDIA_TYPE connection{};
    Expect(S_OK, pin_->ConnectionMediaType(&connection));
    Expect(S_OK, pin_->QueryAccept(&connection));
    framework::FreeFormat(connection);
    if (connection.pUnk) connection.pUnk->Release();

    ComPtr<IEnumMediaTypes> types;
    if (Expect(S_OK, pin_->EnumMediaTypes(&types))) {
      AM_MEDIA_TYPE* offered = nullptr;
      Expect(S_OK, types->Next(1, &offered, nullptr));
      framework::DeleteType(offered);
    }
    LPWSTR id = nullptr;
    Expect(S_OK, pin_->QueryId(&id));
    CoTaskMemFree(id);

    AM_MEDIA_TYPE* format = nullptr;
    Expect(S_OK, config_->GetFormat(&format));
    // The current frame again is allowed; another frame is refused while connected.
    Expect(S_OK, config_->SetFormat(format));
    framework::DeleteType(format);
    Expect(VFW_E_ALREADY_CONNECTED, config_->SetFormat(other_));
    AM_MEDIA_TYPE* capability = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    Expect(S_OK, config_->GetStreamCaps(0, &capability, reinterpret_cast<BYTE*>(&caps)));
    framework::DeleteType(capability);

    ComPtr<IEnumPins> pins;
    if (Expect(S_OK, source_->EnumPins(&pins))) {
      ComPtr<IPin> first;
      Expect(S_OK, pins->Next(1, &first, nullptr));
    }
    ComPtr<IPin> found;
    Expect(S_OK, source_->FindPin(L"1", &found));
    FILTER_INFO info{};
    Expect(S_OK, source_->QueryFilterInfo(&info));
    if (info.pGraph) info.pGraph->Release();
    ComPtr<IReferenceClock> clock;
    Expect(S_OK, source_->GetSyncSource(&clock));
    ++rounds;
  }

 private:
  bool Expect(HRESULT expected, HRESULT actual) {
    if (actual == expected) return true;
    if (++unexpected == 1) first_unexpected = actual;
    return false;
  }

  IBaseFilter* const source_;
  IPin* const pin_;
  IAMStreamConfig* const config_;
  AM_MEDIA_TYPE* other_ = nullptr;
  VIDEO_STREAM_CONFIG_CAPS caps_{};
};

TEST(CallbackGraph, StopsWhileTheStreamingThreadCallsBackIntoTheSource) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  {
    ModuleFiles files;
    files.Background("qp_bg.bmp", 320, 240);
    files.GlyphSheet("qp_font.bmp");
    files.Ini(TwoPresetIni());
    ComPtr<IBaseFilter> source;
    ASSERT_EQ(S_OK, CreateSource(source));
    ComPtr<IPin> pin;
    ASSERT_EQ(S_OK, source->FindPin(L"1", &pin));
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, pin.As(config));

    CallingBackLog log(source.Get(), pin.Get(), config.Get());
    GrabberGraph graph;
    ASSERT_EQ(S_OK, graph.Add(source.Get(), &log));
    ASSERT_EQ(S_OK, graph.ConnectDirect(source.Get()));

    std::mt19937 random(12345);
    std::uniform_int_distribution<DWORD> run_ms(0, 30);
    std::uniform_int_distribution<DWORD> pause_ms(0, 3);
    constexpr int kCycles = 200;
    int cycles_with_frames = 0;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
      const size_t before = log.Count();
      log.stopped = false;
      {
        Watchdog dog(5000, "IMediaControl::Run");
        ASSERT_TRUE(SUCCEEDED(graph.control->Run())) << "cycle " << cycle;
      }
      Sleep(run_ms(random));
      // Every fifth cycle waits for a frame, so that some stops surely meet a callback.
      if (cycle % 5 == 0) {
        ASSERT_TRUE(log.WaitFor(before + 1, 5000)) << "no frame in cycle " << cycle;
      }
      {
        Watchdog dog(5000, "IMediaControl::Stop while the grabber calls back");
        ASSERT_TRUE(SUCCEEDED(graph.control->Stop())) << "cycle " << cycle;
      }
      log.stopped = true;
      if (log.Count() > before) ++cycles_with_frames;
      Sleep(pause_ms(random));
    }
    graph.Stop();

    EXPECT_EQ(log.after_stop.load(), 0);
    EXPECT_GE(cycles_with_frames, kCycles / 5);
    EXPECT_EQ(static_cast<size_t>(log.rounds.load()), log.Count());
    EXPECT_EQ(log.unexpected.load(), 0)
        << "first unexpected answer 0x" << std::hex << log.first_unexpected.load();
  }
  CoUninitialize();
}

}  // namespace
}  // namespace qp::test
