// The filter streaming through the platform's sample grabber in callback mode: sample times,
// arrival rate, every pixel format with both format-block kinds, and the pacing clocks.
#include <windows.h>

#include <gtest/gtest.h>

#include <dshow.h>
#include <dvdmedia.h>

#include "capture/capture_graph_test.h"

namespace qp::test {
namespace {

class StreamGraphTest : public CaptureGraphTest {
 protected:
  void SetUp() override {
    CaptureGraphTest::SetUp();
    PlacePictures(320, 240);
  }
  using CaptureGraphTest::Connect;
  // Creates the filter from `ini` and connects it straight to grabber and renderer.
  void Connect(const std::string& ini, ComPtr<IBaseFilter>& source, GrabberGraph& graph,
               SampleLog& log) {
    files_.Ini(ini);
    Connect(source, graph, log);
  }
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

double Seconds(LONGLONG counts) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return double(counts) / double(frequency.QuadPart);
}

// Frames per second from the slope of a least-squares fit of arrival time against frame
// number, over every frame that arrived a second or more after the first: the graph's stream
// time starts a little after Run returns and the renderer holds the first frames until then,
// so the first arrivals are bunched. A late frame here and there moves the fit little.
double ArrivalRate(const std::vector<SampleLog::Entry>& entries, size_t* frames = nullptr) {
  double n = 0, sum_f = 0, sum_t = 0, sum_ff = 0, sum_ft = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const double t = Seconds(entries[i].arrival - entries.front().arrival);
    if (t < 1.0) continue;
    n += 1;
    sum_f += double(i);
    sum_t += t;
    sum_ff += double(i) * double(i);
    sum_ft += double(i) * t;
  }
  if (frames) *frames = size_t(n);
  const double seconds_per_frame =
      n >= 2 ? (n * sum_ft - sum_f * sum_t) / (n * sum_ff - sum_f * sum_f) : 0.0;
  return seconds_per_frame > 0 ? 1.0 / seconds_per_frame : 0.0;
}

// 25 fps given as a rate: the samples are stamped from the frame count alone, never come ahead
// of their time, and arrive at the preset's rate. Exact pacing figures are scripts/bench's job.
TEST_F(StreamGraphTest, SampleTimesFollowTheFrameCountAndArrivalsThePresetRate) {
  ComPtr<IBaseFilter> source;
  SampleLog log;
  GrabberGraph graph;
  Connect(OnePresetIni(320, 240, "YUY2", "frame_time=25\n"), source, graph, log);
  const REFERENCE_TIME ft = FrameTime(graph.connected);
  EXPECT_EQ(400000, ft);

  Watchdog dog(120000, "a six-second run");
  LARGE_INTEGER before, after;
  QueryPerformanceCounter(&before);
  ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
  const bool streamed = log.WaitFor(150, 100000);
  graph.Stop();
  QueryPerformanceCounter(&after);
  ASSERT_TRUE(streamed);
  const std::vector<SampleLog::Entry> entries = log.Entries();
  ExpectFrameTimes(entries, ft);
  // Frame n is due n frame times after the stream's start, which is after Run was called.
  const double elapsed = Seconds(after.QuadPart - before.QuadPart);
  EXPECT_LE(double(entries.size()), elapsed * 25.0 + 2.0) << elapsed << " s";
  size_t fitted = 0;
  const double rate = ArrivalRate(entries, &fitted);
  std::printf("arrival rate %.4f fps over %zu frames (%.3f%% off)\n", rate, fitted,
              (rate / 25.0 - 1.0) * 100.0);
  EXPECT_GE(fitted, 100u);
  EXPECT_NEAR(25.0, rate, 25.0 * 0.05);
}

TEST_F(StreamGraphTest, EveryPixelFormatWithEitherFormatBlockConnectsAndRuns) {
  const struct {
    const char* fcc;
    GUID subtype;
  } formats[] = {{"RG32", MEDIASUBTYPE_RGB32},
                 {"RG24", MEDIASUBTYPE_RGB24},
                 {"YUY2", MEDIASUBTYPE_YUY2},
                 {"YVYU", MEDIASUBTYPE_YVYU},
                 {"UYVY", MEDIASUBTYPE_UYVY},
                 {"HDYC",
                  {MAKEFOURCC('H', 'D', 'Y', 'C'),
                   0x0000,
                   0x0010,
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

      Watchdog dog(60000, format.fcc);
      ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
      const bool streamed = log.WaitFor(3, 30000);
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
    Connect(OnePresetIni(320, 240, "RG32", "comment=clk\n", "auto_clock=1\n"), source, graph, log);
    if (HasFatalFailure()) return;
    ComPtr<IMediaFilter> graph_filter;
    ASSERT_EQ(S_OK, graph.graph.As(graph_filter));
    // Left alone, the graph takes its own clock when it starts.
    if (!clock) {
      ASSERT_EQ(S_OK, graph_filter->SetSyncSource(nullptr));
    }

    Watchdog dog(120000, "clock run");
    ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
    ComPtr<IReferenceClock> in_use;
    graph_filter->GetSyncSource(&in_use);
    EXPECT_EQ(clock, bool(in_use));
    // Three seconds of stream: two to fit the rate on.
    const bool streamed = log.WaitFor(90, 100000);
    graph.Stop();
    ASSERT_TRUE(streamed);
    const std::vector<SampleLog::Entry> entries = log.Entries();
    ExpectFrameTimes(entries, 333667);
    size_t fitted = 0;
    EXPECT_NEAR(29.97, ArrivalRate(entries, &fitted), 29.97 * 0.05);
    EXPECT_GE(fitted, 40u);
    const std::string header =
        std::string("320x240p RG32 #r") + (clock ? "Stream Time" : "CPU Clock") + " #gclk";
    EXPECT_EQ(header, ReadText(log.KeptFrame(), graph.connected, 0, 240 - kCell, Cells(header)));
  }
}

}  // namespace
}  // namespace qp::test
