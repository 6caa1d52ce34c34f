// What a host sees when the module's files are missing or wrong: result codes and streams
// without a picture, never a crash or a hang.
#include <windows.h>

#include <gtest/gtest.h>

#include <dshow.h>
#include <dvdmedia.h>

#include "capture/capture_graph_test.h"
#include "support/first_pin.h"

namespace qp::test {
namespace {

class BadInputTest : public CaptureGraphTest {
 protected:
  // What a host sees when it runs a graph with a filter made from the files now in place.
  struct Outcome {
    HRESULT connect = E_FAIL;  // creating, adding and connecting
    HRESULT run = E_FAIL;      // IMediaControl::Run
    HRESULT state = E_FAIL;    // IMediaControl::GetState after Run
    HRESULT pause = E_FAIL;    // the filter's own Pause after the graph stopped
    size_t frames = 0;
  };
  Outcome Run() {
    Outcome o;
    ComPtr<IBaseFilter> source;
    SampleLog log;
    GrabberGraph graph;
    o.connect = CreateSource(source);
    if (SUCCEEDED(o.connect)) o.connect = graph.Add(source.Get(), &log);
    if (SUCCEEDED(o.connect)) o.connect = graph.ConnectDirect(source.Get());
    if (FAILED(o.connect)) return o;
    o.run = graph.control->Run();
    OAFilterState state;
    o.state = graph.control->GetState(2000, &state);
    log.WaitFor(1, 1000);
    graph.Stop();
    o.frames = log.Count();
    o.pause = source->Pause();
    source->Stop();
    std::printf("connect 0x%08lx run 0x%08lx state 0x%08lx pause 0x%08lx frames %zu\n",
                static_cast<unsigned long>(o.connect), static_cast<unsigned long>(o.run),
                static_cast<unsigned long>(o.state), static_cast<unsigned long>(o.pause), o.frames);
    return o;
  }
};

// Without a usable INI the only preset names no glyph sheet, so the stream cannot start: the
// filter's Pause answers E_OUTOFMEMORY, and the graph says so through Run or, when a renderer's
// S_FALSE hides the code from Run (Wine 8 does that), through GetState. Nothing streams, and
// the graph still stops and goes away.
TEST_F(BadInputTest, MissingOrBrokenIniOrGlyphSheetFailsTheRun) {
  static const char kBinary[] = "\x01\xff[MAIN\n=\n\x00\x02preset_num=\xfe\n[PRESET_01\nenable=1";
  const std::string preset = OnePresetIni(320, 240, "YUY2");
  const struct {
    const char* what;
    bool has_ini;
    std::string ini;
    const char* font_bytes;  // null: no glyph sheet file
  } cases[] = {
      {"no INI", false, "", nullptr},
      {"binary INI", true, std::string(kBinary, sizeof kBinary - 1), nullptr},
      {"glyph sheet missing", true, preset, nullptr},
      {"glyph sheet not a bitmap", true, preset, "BM not a picture"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ModuleFiles files;
    files.Background("qp_bg.bmp", 320, 240);
    if (c.font_bytes) files.Raw("qp_font.bmp", c.font_bytes);
    if (c.has_ini) files.Ini(c.ini);
    Watchdog dog(10000, c.what);
    const Outcome o = Run();
    ASSERT_EQ(S_OK, o.connect);
    EXPECT_EQ(E_OUTOFMEMORY, o.pause);
    EXPECT_TRUE(FAILED(o.run) || FAILED(o.state));
    EXPECT_EQ(0u, o.frames);
  }
}

// Without a background the frames are black with the text on them.
TEST_F(BadInputTest, MissingBackgroundGivesBlackFramesWithText) {
  ModuleFiles files;
  files.GlyphSheet("qp_font.bmp");
  files.Ini(OnePresetIni(320, 240, "RG32", "bmp=absent.bmp\ncomment=dark\n"));
  ComPtr<IBaseFilter> source;
  SampleLog log;
  GrabberGraph graph;
  ASSERT_NO_FATAL_FAILURE(Connect(source, graph, log));
  Watchdog dog(10000, "run without background");
  ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
  ASSERT_TRUE(log.WaitFor(3, 3000));
  graph.Stop();

  const std::vector<uint8_t> frame = log.KeptFrame();
  ASSERT_EQ(320u * 240 * 4, frame.size());
  const std::string header = "320x240p RG32 #rCPU Clock #gdark";
  EXPECT_EQ(header, ReadText(frame, graph.connected, 0, 240 - kCell, Cells(header)));
  // Between the status line and the header every byte is zero.
  for (size_t at = 320 * 4 * kCell; at < frame.size() - 320 * 4 * kCell; ++at) {
    ASSERT_EQ(0, frame[at]) << "byte " << at;
  }
}

// Frame sizes whose buffers cannot be had, or whose byte count does not fit 32 bits: the
// host gets a failure from connecting or running, and the process lives on.
TEST_F(BadInputTest, PresetTooLargeForMemoryFailsWithAResultCode) {
  ModuleFiles files;
  files.Background("qp_bg.bmp", 320, 240);
  files.GlyphSheet("qp_font.bmp");
  for (auto [width, height] :
       {std::pair{65536, 65536}, std::pair{40000, 30000}, std::pair{1000000, 1000000}}) {
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    files.Ini(OnePresetIni(width, height, "RG32"));
    Watchdog dog(20000, "too large preset");
    const Outcome o = Run();
    EXPECT_TRUE(FAILED(o.connect) || FAILED(o.pause));
  }
}

// A caller's type that claims a format block without giving one is refused with a code at
// every entry point of the pin, is never read, and leaves the pin free to connect.
TEST_F(BadInputTest, TypeClaimingAMissingFormatBlockIsRefused) {
  ModuleFiles files;
  files.GlyphSheet("qp_font.bmp");
  files.Ini(OnePresetIni(320, 240, "RG32"));
  ComPtr<IBaseFilter> source;
  SampleLog log;
  GrabberGraph graph;
  ASSERT_EQ(S_OK, CreateSource(source));
  ASSERT_EQ(S_OK, graph.Add(source.Get(), &log));
  ComPtr<IPin> out = FirstPin(source.Get(), PINDIR_OUTPUT);
  ComPtr<IPin> grab_in = FirstPin(graph.grabber_filter.Get(), PINDIR_INPUT);
  ASSERT_TRUE(out && grab_in);
  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(S_OK, out.As(config));

  for (const GUID* format : {&FORMAT_VideoInfo, &FORMAT_VideoInfo2, &GUID_NULL}) {
    SCOPED_TRACE(testing::Message() << "format type " << (format == &GUID_NULL ? "null" : "set"));
    AM_MEDIA_TYPE bad{};
    bad.majortype = MEDIATYPE_Video;
    bad.subtype = MEDIASUBTYPE_RGB32;
    bad.bFixedSizeSamples = TRUE;
    bad.lSampleSize = 320 * 240 * 4;
    bad.formattype = *format;
    bad.cbFormat = sizeof(VIDEOINFOHEADER2);
    bad.pbFormat = nullptr;

    // The graph hands the type to the pin's Connect as it is.
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, graph.graph->ConnectDirect(out.Get(), grab_in.Get(), &bad));
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, out->Connect(grab_in.Get(), &bad));
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, out->ReceiveConnection(grab_in.Get(), &bad));
    EXPECT_EQ(S_FALSE, out->QueryAccept(&bad));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NO_MATCH), config->SetFormat(&bad));
    ComPtr<IPin> peer;
    EXPECT_EQ(VFW_E_NOT_CONNECTED, out->ConnectedTo(&peer));
  }
  EXPECT_EQ(S_OK, graph.ConnectDirect(source.Get()));
}

}  // namespace
}  // namespace qp::test
