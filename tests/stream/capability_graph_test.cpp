// The stream pin in the platform's filter graph, against the platform's sample grabber, null
// renderer and AVI mux: every pixel format with both header kinds, a preset chosen through
// IAMStreamConfig before connecting, refused while connected, and chosen again after.
#include <gtest/gtest.h>

#include <dshow.h>
#include <amvideo.h>
#include <dvdmedia.h>

#include <string>

#include "platform/windows/com_ptr.h"
#include "framework/media_type.h"
#include "framework/source_filter_base.h"
#include "support/stream_test_doubles.h"
#include "stream/video_media_type.h"
#include "support/first_pin.h"

namespace qp::stream::test {
namespace {

using qp::test::FirstPin;

using framework::ComPtr;

constexpr GUID kSampleGrabber = {
    0xc1f400a0, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};
constexpr GUID kNullRenderer = {
    0xc1f400a4, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};

// One VideoStreamPin in a heap filter that the graph counts and deletes.
class CaptureSource final : public framework::SourceFilterBase {
 public:
  explicit CaptureSource(FakeEnvironment& environment) : SourceFilterBase(nullptr, GUID_NULL) {
    framework::ScopedLock hold(FilterLock());
    pin = new VideoStreamPin(&created, this, L"Capture", environment);
  }
  VideoStreamPin* pin;  // owned by the filter
  HRESULT created = S_OK;
};

// A new `downstream_class` filter in `graph`, and its first input pin.
void AddSink(IGraphBuilder* graph, const GUID& downstream_class, ComPtr<IBaseFilter>& sink,
             ComPtr<IPin>& input) {
  input.Reset();
  sink.Reset();
  ASSERT_EQ(CoCreateInstance(downstream_class, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                             reinterpret_cast<void**>(&sink)),
            S_OK);
  ASSERT_EQ(graph->AddFilter(sink.Get(), L"Sink"), S_OK);
  input = FirstPin(sink.Get(), PINDIR_INPUT);
}

// The frame that `pin`'s connection carries, read as the configured header kind.
void ExpectConnectedFrame(IPin* pin, bool video_info2, const GUID& subtype, int32_t w,
                          uint32_t compression, int bits) {
  framework::MediaType type;
  ASSERT_EQ(pin->ConnectionMediaType(&type), S_OK);
  EXPECT_TRUE(IsEqualGUID(type.subtype, subtype));
  EXPECT_TRUE(IsEqualGUID(type.formattype, video_info2 ? FORMAT_VideoInfo2 : FORMAT_VideoInfo));
  const BITMAPINFOHEADER* header = FormatBitmapHeader(type, video_info2);
  ASSERT_NE(header, nullptr);
  EXPECT_EQ(header->biWidth, w);
  EXPECT_EQ(header->biCompression, compression);
  EXPECT_EQ(header->biBitCount, bits);
}

class CapabilityGraph : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void TearDown() override { CoUninitialize(); }

  void ConnectEveryFormat(const GUID& downstream_class, bool with_video_info2 = true);
};

void CapabilityGraph::ConnectEveryFormat(const GUID& downstream_class, bool with_video_info2) {
  const struct {
    const char* fcc;
    uint32_t compression;
    int bits;
  } formats[] = {{"RG32", 0, 32},
                 {"RG24", 0, 24},
                 {"YUY2", config::kFormatYUY2, 16},
                 {"YVYU", config::kFormatYVYU, 16},
                 {"UYVY", config::kFormatUYVY, 16},
                 {"HDYC", config::kFormatHDYC, 16}};
  for (const bool video_info2 : {false, true}) {
    if (video_info2 && !with_video_info2) continue;
    for (const auto& format : formats) {
      SCOPED_TRACE(std::string(format.fcc) + (video_info2 ? " VIDEOINFOHEADER2" : ""));
      const std::string keys = std::string("fcc=") + format.fcc + "\n";
      FakeEnvironment environment(std::string("[MAIN]\npreset_num=2\nuse_video_info_header2=") +
                                  (video_info2 ? "1" : "0") +
                                  "\n[PRESET_01]\nenable=1\nw=320\nh=240\n" + keys +
                                  "[PRESET_02]\nenable=1\nw=642\nh=480\n" + keys);
      auto* source = new CaptureSource(environment);
      ComPtr<IBaseFilter> source_filter(static_cast<IBaseFilter*>(source));
      ASSERT_EQ(source->created, S_OK);
      ComPtr<IGraphBuilder> graph;
      ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_IGraphBuilder, reinterpret_cast<void**>(&graph)),
                S_OK);
      ASSERT_EQ(graph->AddFilter(source_filter.Get(), L"Source"), S_OK);
      const ComPtr<IPin> output = FirstPin(source_filter.Get(), PINDIR_OUTPUT);
      ComPtr<IBaseFilter> sink;
      ComPtr<IPin> input;
      AddSink(graph.Get(), downstream_class, sink, input);
      ASSERT_TRUE(output && input);

      // The application's view: the interfaces through the pin, as a capture pin.
      ComPtr<IAMStreamConfig> config;
      ASSERT_EQ(output.As(config), S_OK);
      ComPtr<IKsPropertySet> properties;
      ASSERT_EQ(output.As(properties), S_OK);
      GUID category = GUID_NULL;
      DWORD returned = 0;
      EXPECT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                                sizeof category, &returned),
                S_OK);
      EXPECT_TRUE(IsEqualGUID(category, PIN_CATEGORY_CAPTURE));
      ComPtr<IQualityControl> quality;
      ASSERT_EQ(output.As(quality), S_OK);
      EXPECT_EQ(quality->Notify(source_filter.Get(), Quality{Famine, 500, 0, 0}), S_OK);

      int count = 0;
      int size = 0;
      ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
      ASSERT_EQ(count, 2);
      AM_MEDIA_TYPE* types[2] = {};
      VIDEO_STREAM_CONFIG_CAPS caps[2];
      for (int i = 0; i < 2; ++i)
        ASSERT_EQ(config->GetStreamCaps(i, &types[i], reinterpret_cast<BYTE*>(&caps[i])), S_OK);
      EXPECT_EQ(caps[1].InputSize.cx, 642);

      // Chosen before connecting, the second preset is what the graph connects.
      EXPECT_EQ(config->SetFormat(types[1]), S_OK);
      ASSERT_EQ(graph->ConnectDirect(output.Get(), input.Get(), nullptr), S_OK);
      ExpectConnectedFrame(output.Get(), video_info2, types[1]->subtype, 642, format.compression,
                           format.bits);
      ExpectConnectedFrame(input.Get(), video_info2, types[1]->subtype, 642, format.compression,
                           format.bits);

      // The downstream holds buffers for this frame: another is refused until it disconnects.
      EXPECT_EQ(config->SetFormat(types[0]), VFW_E_ALREADY_CONNECTED);
      EXPECT_EQ(config->SetFormat(types[1]), S_OK);
      EXPECT_EQ(graph->Disconnect(output.Get()), S_OK);
      EXPECT_EQ(graph->Disconnect(input.Get()), S_OK);
      EXPECT_EQ(config->SetFormat(types[0]), S_OK);
      // Wine's AVI mux input faults when connected a second time: a fresh sink each time.
      EXPECT_EQ(graph->RemoveFilter(sink.Get()), S_OK);
      AddSink(graph.Get(), downstream_class, sink, input);
      ASSERT_TRUE(input);
      ASSERT_EQ(graph->ConnectDirect(output.Get(), input.Get(), nullptr), S_OK);
      ExpectConnectedFrame(input.Get(), video_info2, types[0]->subtype, 320, format.compression,
                           format.bits);

      for (AM_MEDIA_TYPE* type : types) framework::DeleteType(type);
      graph->Disconnect(output.Get());
      graph->Disconnect(input.Get());
      graph->RemoveFilter(sink.Get());
      graph->RemoveFilter(source_filter.Get());
    }
  }
}

TEST_F(CapabilityGraph, SampleGrabberTakesEveryFormat) { ConnectEveryFormat(kSampleGrabber); }
TEST_F(CapabilityGraph, NullRendererTakesEveryFormat) { ConnectEveryFormat(kNullRenderer); }
// Wine 8's AVI mux answers S_FALSE to QueryAccept of any FORMAT_VideoInfo2 type.
TEST_F(CapabilityGraph, AviMuxTakesEveryFormatWithVideoInfoHeader) {
  ConnectEveryFormat(CLSID_AviDest, false);
}

}  // namespace
}  // namespace qp::stream::test
