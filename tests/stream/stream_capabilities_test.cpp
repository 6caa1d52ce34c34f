// The capabilities of a preset table, the choice of a preset by SetFormat (its frame-time
// window, its refusals, its refusal while connected) and the pin category property.
#include <gtest/gtest.h>

#include <dshow.h>
#include <amvideo.h>
#include <dvdmedia.h>

#include <climits>
#include <cstring>
#include <string>

#include "framework/media_type.h"
#include "stream/stream_capabilities.h"
#include "support/stream_test_doubles.h"
#include "support/temp_dir.h"

namespace qp::stream::test {
namespace {

const HRESULT kNoMatch = static_cast<HRESULT>(0x80070491);

// Three enabled presets; the disabled section between them is skipped, so record 1 is
// PRESET_03. Record 2 differs from record 0 in frame time alone.
std::string ThreePresetIni(bool video_info2) {
  return std::string("[MAIN]\npreset_num=4\nuse_video_info_header2=") + (video_info2 ? "1" : "0") +
         "\n[PRESET_01]\nenable=1\nw=640\nh=480\nfcc=YUY2\nframe_time=333667\ninterlaced=1\n"
         "[PRESET_02]\nenable=0\nw=800\nh=600\n"
         "[PRESET_03]\nenable=1\nw=642\nh=480\nfcc=RG24\nframe_time=400000\n"
         "[PRESET_04]\nenable=1\nw=640\nh=480\nfcc=YUY2\nframe_time=166833\n";
}

class FakePin final : public StreamCapabilities::Pin {
 public:
  config::Preset CurrentPreset() const override { return current; }
  void SelectPreset(const config::Preset& preset) override { current = preset; }
  framework::CriticalSection& FormatLock() override { return lock_; }
  bool HasConnection() override { return connected; }

  config::Preset current{};
  bool connected = false;

 private:
  framework::CriticalSection lock_;
};

struct Rig {
  explicit Rig(bool video_info2 = false) {
    EXPECT_TRUE(settings.LoadConfigurationFrom(
        directory.Write("QuorPlemo.ini", ThreePresetIni(video_info2)).c_str()));
    pin.current = settings.presets[0];
  }
  // GetStreamCaps(index), EXPECTing S_OK; the type is freed by the caller.
  AM_MEDIA_TYPE* Caps(int index, VIDEO_STREAM_CONFIG_CAPS& record) {
    AM_MEDIA_TYPE* type = nullptr;
    EXPECT_EQ(caps.GetStreamCaps(index, &type, reinterpret_cast<BYTE*>(&record)), S_OK);
    return type;
  }

  qp::test::TempDir directory;
  config::StreamConfiguration settings;
  FakePin pin;
  StreamCapabilities caps{settings, pin};
};

TEST(StreamCaps, OneCapabilityPerEnabledPresetInTableOrder) {
  Rig rig;
  int count = 0;
  int size = 0;
  ASSERT_EQ(rig.caps.GetNumberOfCapabilities(&count, &size), S_OK);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(size, 128);

  const struct {
    int32_t w;
    GUID subtype;
    WORD bits;
    DWORD image;
    int64_t frame_time;
    LONG bit_rate;
  } expected[] = {
      {640, MEDIASUBTYPE_YUY2, 16, 614400, 333667, 147308544},
      {642, MEDIASUBTYPE_RGB24, 24, 925440, 400000, 185088000},  // rows padded to 1928 bytes
      {640, MEDIASUBTYPE_YUY2, 16, 614400, 166833, 294617971},
  };
  for (int i = 0; i < 3; ++i) {
    VIDEO_STREAM_CONFIG_CAPS record;
    std::memset(&record, 0xCD, sizeof record);
    AM_MEDIA_TYPE* type = rig.Caps(i, record);
    ASSERT_NE(type, nullptr);
    EXPECT_TRUE(IsEqualGUID(type->majortype, MEDIATYPE_Video));
    EXPECT_TRUE(IsEqualGUID(type->subtype, expected[i].subtype)) << i;
    EXPECT_TRUE(IsEqualGUID(type->formattype, FORMAT_VideoInfo));
    EXPECT_EQ(type->cbFormat, 88u);  // the bare header, not the offered 1128-byte block
    EXPECT_EQ(type->lSampleSize, expected[i].image);
    const auto* format = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
    EXPECT_EQ(format->AvgTimePerFrame, expected[i].frame_time);
    EXPECT_EQ(format->bmiHeader.biWidth, expected[i].w);
    EXPECT_EQ(format->bmiHeader.biHeight, 480);
    EXPECT_EQ(format->bmiHeader.biBitCount, expected[i].bits);

    EXPECT_TRUE(IsEqualGUID(record.guid, FORMAT_VideoInfo));
    for (const SIZE& s : {record.InputSize, record.MinCroppingSize, record.MaxCroppingSize,
                          record.MinOutputSize, record.MaxOutputSize}) {
      EXPECT_EQ(s.cx, expected[i].w);
      EXPECT_EQ(s.cy, 480);
    }
    EXPECT_EQ(record.VideoStandard | record.StretchTapsX | record.ShrinkTapsY, 0u);
    EXPECT_EQ(record.MinFrameInterval, expected[i].frame_time);
    EXPECT_EQ(record.MaxFrameInterval, expected[i].frame_time);
    // Bits, not bytes, per second.
    EXPECT_EQ(record.MinBitsPerSecond, expected[i].bit_rate) << i;
    EXPECT_EQ(record.MaxBitsPerSecond, expected[i].bit_rate);
    framework::DeleteType(type);
  }
}

// Each capability describes its own preset, whichever preset is current.
TEST(StreamCaps, VideoInfo2CarriesTheDescribedPresetsInterlacing) {
  Rig rig(true);
  rig.pin.current = rig.settings.presets[1];  // progressive
  VIDEO_STREAM_CONFIG_CAPS record;
  AM_MEDIA_TYPE* interlaced = rig.Caps(0, record);  // mode 1
  AM_MEDIA_TYPE* progressive = rig.Caps(1, record);
  ASSERT_NE(interlaced, nullptr);
  ASSERT_NE(progressive, nullptr);
  ASSERT_EQ(progressive->cbFormat, 112u);
  EXPECT_TRUE(IsEqualGUID(record.guid, FORMAT_VideoInfo2));
  const auto* format = reinterpret_cast<const VIDEOINFOHEADER2*>(progressive->pbFormat);
  EXPECT_EQ(format->dwInterlaceFlags, 0u);
  EXPECT_EQ(format->dwPictAspectRatioX, 642u);
  EXPECT_EQ(format->dwPictAspectRatioY, 480u);
  EXPECT_EQ(format->AvgTimePerFrame, 400000);
  EXPECT_EQ(reinterpret_cast<const VIDEOINFOHEADER2*>(interlaced->pbFormat)->dwInterlaceFlags, 5u);

  // The current preset's own capability says the same as GetFormat.
  rig.pin.current = rig.settings.presets[0];
  AM_MEDIA_TYPE* current = nullptr;
  ASSERT_EQ(rig.caps.GetFormat(&current), S_OK);
  EXPECT_EQ(reinterpret_cast<const VIDEOINFOHEADER2*>(current->pbFormat)->dwInterlaceFlags, 5u);
  framework::DeleteType(current);
  framework::DeleteType(interlaced);
  framework::DeleteType(progressive);
}

TEST(StreamCaps, BitRateSaturatesAndTakes30FramesForNoFrameTime) {
  EXPECT_EQ(CapabilityBitRate(8294400, 166667), LONG_MAX);  // 1920 × 1080 RGB32 at 60 Hz
  EXPECT_EQ(CapabilityBitRate(1000, 0), 240000);
  EXPECT_EQ(CapabilityBitRate(1000, -333667), 0);
  EXPECT_EQ(CapabilityBitRate(0, 333667), 0);
}

TEST(StreamCaps, WrongIndexOrPointersAreRefusedWithoutResult) {
  Rig rig;
  VIDEO_STREAM_CONFIG_CAPS record;
  for (int index : {-1, 3, INT_MAX, INT_MIN}) {
    AM_MEDIA_TYPE* type = reinterpret_cast<AM_MEDIA_TYPE*>(&record);
    EXPECT_EQ(rig.caps.GetStreamCaps(index, &type, reinterpret_cast<BYTE*>(&record)), E_INVALIDARG);
    EXPECT_EQ(type, nullptr);
  }
  AM_MEDIA_TYPE* type = nullptr;
  int count = 0;
  EXPECT_EQ(rig.caps.GetStreamCaps(0, nullptr, reinterpret_cast<BYTE*>(&record)), E_POINTER);
  EXPECT_EQ(rig.caps.GetStreamCaps(0, &type, nullptr), E_POINTER);
  EXPECT_EQ(rig.caps.GetFormat(nullptr), E_POINTER);
  EXPECT_EQ(rig.caps.GetNumberOfCapabilities(&count, nullptr), E_POINTER);
  EXPECT_EQ(rig.caps.GetNumberOfCapabilities(nullptr, &count), E_POINTER);
}

// SetFormat with capability `index`, its frame time moved by `shift`.
HRESULT SetShifted(Rig& rig, int index, int64_t shift) {
  VIDEO_STREAM_CONFIG_CAPS record;
  AM_MEDIA_TYPE* type = rig.Caps(index, record);
  reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->AvgTimePerFrame += shift;
  const HRESULT hr = rig.caps.SetFormat(type);
  framework::DeleteType(type);
  return hr;
}

TEST(SetFormat, ChoosesThePresetWithinFiftyUnitsOfItsFrameTime) {
  Rig rig;
  for (int64_t shift : {-50, 50, 0}) {
    rig.pin.current = rig.settings.presets[1];
    EXPECT_EQ(SetShifted(rig, 0, shift), S_OK) << shift;
    EXPECT_EQ(rig.pin.current.frame_time, 333667);
  }
  for (int64_t shift : {-51, 51}) {
    rig.pin.current = rig.settings.presets[1];
    EXPECT_EQ(SetShifted(rig, 0, shift), kNoMatch) << shift;
    EXPECT_EQ(rig.pin.current.w, 642);
  }
  // Twins in all but frame time are told apart by it; GetFormat follows the choice.
  ASSERT_EQ(SetShifted(rig, 2, 0), S_OK);
  AM_MEDIA_TYPE* type = nullptr;
  ASSERT_EQ(rig.caps.GetFormat(&type), S_OK);
  EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->AvgTimePerFrame, 166833);
  framework::DeleteType(type);
}

TEST(SetFormat, RefusesMalformedOrForeignTypesAndKeepsThePreset) {
  Rig rig(true);
  VIDEO_STREAM_CONFIG_CAPS record;
  AM_MEDIA_TYPE* good = rig.Caps(1, record);
  auto refused = [&](AM_MEDIA_TYPE& type) {
    EXPECT_EQ(rig.caps.SetFormat(&type), kNoMatch);
    EXPECT_EQ(rig.pin.current.w, 640);
    framework::FreeFormat(type);
  };
  auto copy = [&] {
    AM_MEDIA_TYPE type;
    framework::CopyType(type, *good);
    return type;
  };
  EXPECT_EQ(rig.caps.SetFormat(nullptr), kNoMatch);
  AM_MEDIA_TYPE audio = copy();
  audio.majortype = MEDIATYPE_Audio;
  refused(audio);
  AM_MEDIA_TYPE other_kind = copy();  // a VIDEOINFOHEADER-sized kind the settings do not use
  other_kind.formattype = FORMAT_VideoInfo;
  refused(other_kind);
  AM_MEDIA_TYPE top_down = copy();
  reinterpret_cast<VIDEOINFOHEADER2*>(top_down.pbFormat)->bmiHeader.biHeight = -480;
  refused(top_down);
  AM_MEDIA_TYPE no_block = copy();
  framework::FreeFormat(no_block);
  refused(no_block);

  // A block one byte short of the header, ending at an inaccessible page: never read past it.
  FakeSample short_block(sizeof(VIDEOINFOHEADER2) - 1);
  std::memcpy(short_block.Bytes(), good->pbFormat, sizeof(VIDEOINFOHEADER2) - 1);
  AM_MEDIA_TYPE truncated = *good;
  truncated.pbFormat = short_block.Bytes();
  truncated.cbFormat = sizeof(VIDEOINFOHEADER2) - 1;
  EXPECT_EQ(rig.caps.SetFormat(&truncated), kNoMatch);

  EXPECT_EQ(rig.caps.SetFormat(good), S_OK);
  EXPECT_EQ(rig.pin.current.w, 642);
  framework::DeleteType(good);
}

TEST(SetFormat, WhileConnectedKeepsTheAgreedFrame) {
  Rig rig;
  rig.pin.connected = true;
  EXPECT_EQ(SetShifted(rig, 1, 0), VFW_E_ALREADY_CONNECTED);  // another size
  EXPECT_EQ(SetShifted(rig, 2, 0), VFW_E_ALREADY_CONNECTED);  // another frame time
  EXPECT_EQ(rig.pin.current.frame_time, 333667);
  EXPECT_EQ(SetShifted(rig, 0, 20), S_OK);       // the agreed frame itself
  EXPECT_EQ(SetShifted(rig, 1, 100), kNoMatch);  // no match is still no match
  rig.pin.connected = false;
  EXPECT_EQ(SetShifted(rig, 1, 0), S_OK);
  EXPECT_EQ(rig.pin.current.w, 642);
}

TEST(PinCategory, ReadOnlyCaptureCategory) {
  Rig rig;
  GUID category = GUID_NULL;
  DWORD returned = 0;
  EXPECT_EQ(rig.caps.GetProperty(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &returned),
            S_OK);
  EXPECT_EQ(returned, 16u);
  returned = 0;
  EXPECT_EQ(
      rig.caps.GetProperty(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, &category, 15, &returned),
      E_UNEXPECTED);
  EXPECT_EQ(returned, 16u);
  EXPECT_TRUE(IsEqualGUID(category, GUID_NULL));
  EXPECT_EQ(rig.caps.GetProperty(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, &category, 16, nullptr),
            S_OK);
  EXPECT_TRUE(IsEqualGUID(category, PIN_CATEGORY_CAPTURE));
  EXPECT_EQ(rig.caps.GetProperty(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 16, nullptr),
            E_POINTER);
  EXPECT_EQ(
      rig.caps.GetProperty(PIN_CATEGORY_CAPTURE, AMPROPERTY_PIN_CATEGORY, &category, 16, &returned),
      E_PROP_SET_UNSUPPORTED);
  EXPECT_EQ(rig.caps.GetProperty(AMPROPSETID_Pin, 1, &category, 16, &returned),
            E_PROP_ID_UNSUPPORTED);

  DWORD support = 0;
  EXPECT_EQ(rig.caps.QuerySupported(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, &support), S_OK);
  EXPECT_EQ(support, DWORD{KSPROPERTY_SUPPORT_GET});
  EXPECT_EQ(rig.caps.QuerySupported(GUID_NULL, AMPROPERTY_PIN_CATEGORY, &support),
            E_PROP_SET_UNSUPPORTED);
  EXPECT_EQ(rig.caps.QuerySupported(AMPROPSETID_Pin, 7, &support), E_PROP_ID_UNSUPPORTED);
  EXPECT_EQ(rig.caps.SetProperty(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY), E_NOTIMPL);
}

}  // namespace
}  // namespace qp::stream::test
