// The filter streaming through the platform's sample grabber in callback mode: sample times,
// arrival rate, every pixel format with both format-block kinds, and the pacing clocks.
#include <windows.h>

#include <gtest/gtest.h>

#include <dshow.h>
#include <dvdmedia.h>

#include "capture/capture_harness.h"

namespace qp::test {
namespace {

class StreamGraphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    files_.Background("qp_bg.bmp", 320, 240);
    files_.GlyphSheet("qp_font.bmp");
  }
  void TearDown() override { CoUninitialize(); }

  // Creates the filter from `ini` and connects it straight to grabber and renderer.
  void Connect(const std::string& ini, ComPtr<IBaseFilter>& source, GrabberGraph& graph,
               SampleLog& log) {
    files_.Ini(ini);
    ASSERT_EQ(S_OK, CreateSource(source));
    ASSERT_EQ(S_OK, graph.Add(source.Get(), &log));
    ASSERT_EQ(S_OK, graph.ConnectDirect(source.Get()));
  }

  ModuleFiles files_;
};

REFERENCE_TIME FrameTime(const AM_MEDIA_TYPE& type) {
  if (type.formattype == FORMAT_VideoInfo2) {
    return reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat)->AvgTimePerFrame;
  }
  return reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame;
}

void ExpectFrameTimes(const std::vector<SampleLog::Entry>& entries, REFERENCE_TIME ft) {
  for (size_t n = 0; n < entries.size(); ++n) {
    ASSERT_EQ(S_OK, entries[n].time_result) << "sample " << n;
    ASSERT_EQ(REFERENCE_TIME(n) * ft, entries[n].start) << "sample " << n;
    ASSERT_EQ(REFERENCE_TIME(n + 1) * ft, entries[n].stop) << "sample " << n;
  }
}

// Frames per second from the first arrival `settle_ms` or more after the first frame to the
// last. The graph's stream time starts a little after Run returns, and the renderer holds the
// first frames until then, so the first arrivals are bunched.
double ArrivalRate(const std::vector<SampleLog::Entry>& entries, double settle_ms,
                   double* seconds = nullptr) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  const auto ms = [&](size_t n) {
    return double(entries[n].arrival - entries.front().arrival) * 1000.0 /
           double(frequency.QuadPart);
  };
  size_t first = 0;
  while (first + 1 < entries.size() && ms(first) < settle_ms) ++first;
  const double span = (ms(entries.size() - 1) - ms(first)) / 1000.0;
  if (seconds) *seconds = span;
  return double(entries.size() - 1 - first) / span;
}

// 25 fps given as a rate: the samples are stamped from the frame count alone and arrive at the
// preset's rate, measured over five seconds.
TEST_F(StreamGraphTest, SampleTimesFollowTheFrameCountAndArrivalsThePresetRate) {
  ComPtr<IBaseFilter> source;
  SampleLog log;
  GrabberGraph graph;
  Connect(OnePresetIni(320, 240, "YUY2", "frame_time=25\n"), source, graph, log);
  const REFERENCE_TIME ft = FrameTime(graph.connected);
  EXPECT_EQ(400000, ft);

  Watchdog dog(20000, "five-second run");
  ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
  Sleep(5600);
  graph.Stop();
  const std::vector<SampleLog::Entry> entries = log.Entries();
  ASSERT_GE(entries.size(), 130u);
  EXPECT_LE(entries.size(), 141u);
  ExpectFrameTimes(entries, ft);
  double seconds = 0;
  const double rate = ArrivalRate(entries, 500, &seconds);
  std::printf("arrival rate %.4f fps over %.3f s (%.3f%% off)\n", rate, seconds,
              (rate / 25.0 - 1.0) * 100.0);
  EXPECT_GE(seconds, 5.0);
  EXPECT_NEAR(25.0, rate, 25.0 * 0.005);
}

TEST_F(StreamGraphTest, EveryPixelFormatWithEitherFormatBlockConnectsAndRuns) {
  const struct {
    const char* fcc;
    GUID subtype;
  } formats[] = {{"RG32", MEDIASUBTYPE_RGB32}, {"RG24", MEDIASUBTYPE_RGB24},
                 {"YUY2", MEDIASUBTYPE_YUY2},  {"YVYU", MEDIASUBTYPE_YVYU},
                 {"UYVY", MEDIASUBTYPE_UYVY},
                 {"HDYC", {MAKEFOURCC('H', 'D', 'Y', 'C'), 0x0000, 0x0010,
                           {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}}}};
  for (const auto& format : formats) {
    for (int header2 = 0; header2 <= 1; ++header2) {
      SCOPED_TRACE(std::string(format.fcc) + (header2 ? " VIDEOINFOHEADER2" : " VIDEOINFOHEADER"));
      ComPtr<IBaseFilter> source;
      SampleLog log;
      GrabberGraph graph;
      const std::string comment = std::string("h") + char('0' + header2);
      Connect(OnePresetIni(320, 240, format.fcc, "comment=" + comment + "\n",
                           "use_video_info_header2=" + std::to_string(header2) + "\n"),
              source, graph, log);
      if (HasFatalFailure()) return;
      const AM_MEDIA_TYPE& type = graph.connected;
      const BITMAPINFOHEADER bitmap = BitmapHeader(type);
      EXPECT_EQ(header2 ? FORMAT_VideoInfo2 : FORMAT_VideoInfo, type.formattype);
      EXPECT_EQ(format.subtype, type.subtype);
      EXPECT_EQ(320, bitmap.biWidth);
      EXPECT_EQ(240, bitmap.biHeight);

      Watchdog dog(10000, format.fcc);
      ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
      const bool streamed = log.WaitFor(3, 3000);
      graph.Stop();
      ASSERT_TRUE(streamed);
      ExpectFrameTimes(log.Entries(), 333667);
      const std::vector<uint8_t> frame = log.KeptFrame();
      EXPECT_EQ(bitmap.biSizeImage, frame.size());
      // The header line in the bottom cell row names the format the frame is in.
      const std::string header =
          std::string("320x240p ") + format.fcc + " #rCPU Clock #g" + comment;
      EXPECT_EQ(header, ReadText(frame, type, 0, 240 - kCell, Cells(header)));
    }
  }
}

// With `auto_clock` 1 the graph's clock paces the stream when the graph has one; without a
// clock the performance counter does. The header line says which.
TEST_F(StreamGraphTest, GraphClockAndNoClockBothStreamAndTheHeaderNamesThePacingClock) {
  for (bool clock : {true, false}) {
    SCOPED_TRACE(clock ? "graph clock" : "no clock");
    ComPtr<IBaseFilter> source;
    SampleLog log(5);
    GrabberGraph graph;
    Connect(OnePresetIni(320, 240, "RG32", "comment=clk\n", "auto_clock=1\n"), source, graph,
            log);
    if (HasFatalFailure()) return;
    ComPtr<IMediaFilter> graph_filter;
    ASSERT_EQ(S_OK, graph.graph.As(graph_filter));
    // Left alone, the graph takes its own clock when it starts.
    if (!clock) {
      ASSERT_EQ(S_OK, graph_filter->SetSyncSource(nullptr));
    }

    Watchdog dog(10000, "clock run");
    ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
    ComPtr<IReferenceClock> in_use;
    graph_filter->GetSyncSource(&in_use);
    EXPECT_EQ(clock, bool(in_use));
    const bool streamed = log.WaitFor(40, 3000);
    graph.Stop();
    ASSERT_TRUE(streamed);
    const std::vector<SampleLog::Entry> entries = log.Entries();
    ExpectFrameTimes(entries, 333667);
    EXPECT_NEAR(29.97, ArrivalRate(entries, 300), 29.97 * 0.05);
    const std::string header =
        std::string("320x240p RG32 #r") + (clock ? "Stream Time" : "CPU Clock") + " #gclk";
    EXPECT_EQ(header, ReadText(log.KeptFrame(), graph.connected, 0, 240 - kCell, Cells(header)));
  }
}

}  // namespace
}  // namespace qp::test
