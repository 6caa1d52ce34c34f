// Whole INI files into stream settings and presets: defaults, overrides, the order of the
// table, normalisation, the two forms of frame_time, and hostile files.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/stream_configuration.h"
#include "support/temp_dir.h"

namespace qp::config {
namespace {

class LoadConfiguration : public ::testing::Test {
 protected:
  // Loads `text` as the INI file; a fresh name each time (the platform may cache by name).
  StreamConfiguration Load(const std::string& text) {
    std::string path = dir_.Write("QuorPlemo" + std::to_string(files_++) + ".ini", text);
    StreamConfiguration config;
    EXPECT_TRUE(config.LoadConfigurationFrom(path.c_str()));
    return config;
  }
  // The frame time of the single preset of a file whose PRESET_01 says `value`.
  int64_t FrameTimeOf(const std::string& value, const std::string& defaults = "") {
    StreamConfiguration config =
        Load("[PRESET_DEF]\n" + defaults + "[PRESET_01]\nenable=1\nframe_time=" + value + "\n");
    return config.presets[0].frame_time;
  }

  test::TempDir dir_;
  int files_ = 0;
};

void ExpectBuiltInDefaults(const StreamConfiguration& config) {
  EXPECT_EQ(config.buff_num, 2);
  EXPECT_EQ(config.preset_num, 1);
  EXPECT_EQ(config.use_video_info_header2, 0);
  EXPECT_EQ(config.auto_clock, 0);
  ASSERT_FALSE(config.presets.Empty());
  const Preset& p = config.presets[0];
  EXPECT_EQ(p.enable, 0);
  EXPECT_EQ(p.w, 320);
  EXPECT_EQ(p.h, 240);
  EXPECT_EQ(p.compression, kFormatRgb);
  EXPECT_EQ(p.bit_count, 32);
  EXPECT_EQ(p.frame_time, 333667);
  EXPECT_EQ(p.interlaced, 0);
  EXPECT_EQ(p.scroll_x, 0);
  EXPECT_EQ(p.scroll_y, 0);
  EXPECT_STREQ(p.bmp, "");
  EXPECT_STREQ(p.font, "");
  EXPECT_STREQ(p.comment, "");
}

TEST_F(LoadConfiguration, MissingOrEmptyFileGivesOneDefaultPreset) {
  StreamConfiguration missing;
  EXPECT_TRUE(missing.LoadConfigurationFrom(dir_.PathOf("none.ini").c_str()));
  ExpectBuiltInDefaults(missing);
  ExpectBuiltInDefaults(Load(""));
}

TEST_F(LoadConfiguration, StreamSettingsAreReadAndNormalised) {
  StreamConfiguration config = Load("[MAIN]\nbuff_num=4\nuse_video_info_header2=1\nauto_clock=7\n");
  EXPECT_EQ(config.buff_num, 4);
  EXPECT_EQ(config.use_video_info_header2, 1);
  EXPECT_EQ(config.auto_clock, 7);
  EXPECT_EQ(Load("[MAIN]\nbuff_num=0\n").buff_num, 1);
  EXPECT_EQ(Load("[MAIN]\nbuff_num=-3\n").buff_num, 1);
  EXPECT_EQ(Load("[MAIN]\nbuff_num=many\n").buff_num, 2);
}

// The latency log is off unless a plain file name is given; a path or device is refused and
// flagged, never kept.
TEST_F(LoadConfiguration, LatencyLogKeepsOnlyAPlainFileName) {
  const StreamConfiguration missing = Load("[MAIN]\nauto_clock=1\n");
  EXPECT_STREQ(missing.latency_log, "");
  EXPECT_FALSE(missing.latency_log_refused);
  const StreamConfiguration empty = Load("[MAIN]\nlatency_log=\n");
  EXPECT_STREQ(empty.latency_log, "");
  EXPECT_FALSE(empty.latency_log_refused);
  const StreamConfiguration named = Load("[MAIN]\nlatency_log = \"qp latency.log\"\n");
  EXPECT_STREQ(named.latency_log, "qp latency.log");
  EXPECT_FALSE(named.latency_log_refused);
  for (const std::string& value :
       std::initializer_list<std::string>{"..\\evil.log", "C:\\evil.log", "sub/evil.log", "NUL",
                                          "com1.log", std::string(300, 'n')}) {
    const StreamConfiguration refused = Load("[MAIN]\nlatency_log=" + value + "\n");
    EXPECT_STREQ(refused.latency_log, "") << value;
    EXPECT_TRUE(refused.latency_log_refused) << value;
  }
}

TEST_F(LoadConfiguration, TableHoldsTheEnabledSectionsInOrder) {
  StreamConfiguration config = Load(
      "[MAIN]\npreset_num=3\n"
      "[PRESET_01]\nenable=0\nw=100\n"
      "[PRESET_02]\nenable=1\nw=200\ncomment=second\n"
      "[PRESET_03]\nenable=1\nw=300\n");
  ASSERT_EQ(config.preset_num, 2);
  EXPECT_EQ(config.presets[0].w, 200);
  EXPECT_STREQ(config.presets[0].comment, "second");
  EXPECT_EQ(config.presets[0].enable, 1);
  EXPECT_EQ(config.presets[1].w, 300);
  EXPECT_STREQ(config.presets[1].comment, "");
}

TEST_F(LoadConfiguration, OnlyEnableOfExactlyOneCounts) {
  StreamConfiguration config = Load(
      "[MAIN]\npreset_num=4\n"
      "[PRESET_01]\nenable=true\nw=100\n[PRESET_02]\nenable=2\nw=102\n"
      "[PRESET_03]\nw=104\n[PRESET_04]\nenable= 1 \nw=106\n");
  ASSERT_EQ(config.preset_num, 1);
  EXPECT_EQ(config.presets[0].w, 106);
}

TEST_F(LoadConfiguration, SectionsBeyondPresetNumAreNeverRead) {
  StreamConfiguration config =
      Load("[MAIN]\npreset_num=2\n[PRESET_DEF]\nw=640\n[PRESET_05]\nenable=1\nw=1920\n");
  ASSERT_EQ(config.preset_num, 1);
  EXPECT_EQ(config.presets[0].enable, 0) << "the fallback record from the defaults";
  EXPECT_EQ(config.presets[0].w, 640);
}

TEST_F(LoadConfiguration, PresetNumBelowOneProbesTheFirstSection) {
  for (const char* count : {"0", "-5"}) {
    StreamConfiguration config = Load(std::string("[MAIN]\npreset_num=") + count +
                                      "\n[PRESET_01]\nenable=1\nw=400\n[PRESET_02]\nenable=1\n");
    ASSERT_EQ(config.preset_num, 1) << count;
    EXPECT_EQ(config.presets[0].w, 400) << count;
  }
}

TEST_F(LoadConfiguration, SectionNumbersFrom100HaveThreeDigits) {
  StreamConfiguration config = Load(
      "[MAIN]\npreset_num=100\n[PRESET_100]\nenable=1\nw=1000\n"
      "[PRESET_09]\nenable=1\nw=900\n");
  ASSERT_EQ(config.preset_num, 2);
  EXPECT_EQ(config.presets[0].w, 900);
  EXPECT_EQ(config.presets[1].w, 1000);
}

TEST_F(LoadConfiguration, PresetSectionsOverrideTheDefaults) {
  StreamConfiguration config = Load(
      "[MAIN]\npreset_num=2\n"
      "[PRESET_DEF]\nw=640\nh=480\ninterlaced=1\nbmp=back.bmp\nfont=font.bmp\nscroll_x=2\n"
      "scroll_y=4\nfcc=YUY2\nframe_time=25\n"
      "[PRESET_01]\nenable=1\nbmp=\nh=720\nfcc=NV12\n"
      "[PRESET_02]\nenable=1\nfcc=rg24\ncomment=  spaced  \n");
  ASSERT_EQ(config.preset_num, 2);
  const Preset& first = config.presets[0];
  EXPECT_EQ(first.w, 640);
  EXPECT_EQ(first.h, 720);
  EXPECT_EQ(first.interlaced, 1);
  EXPECT_STREQ(first.bmp, "") << "an empty value removes the default picture";
  EXPECT_STREQ(first.font, "font.bmp");
  EXPECT_EQ(first.scroll_x, 2);
  EXPECT_EQ(first.scroll_y, 4);
  EXPECT_EQ(first.compression, kFormatYUY2) << "an unknown fcc keeps the default format";
  EXPECT_EQ(first.bit_count, 16);
  EXPECT_EQ(first.frame_time, 400000);
  const Preset& second = config.presets[1];
  EXPECT_STREQ(second.bmp, "back.bmp");
  EXPECT_EQ(second.compression, kFormatRgb);
  EXPECT_EQ(second.bit_count, 24);
  EXPECT_STREQ(second.comment, "spaced");
}

TEST_F(LoadConfiguration, FormatNamesMapToCodeAndBitCount) {
  struct Case {
    const char* fcc;
    uint32_t compression;
    int32_t bits;
  };
  const Case cases[] = {
      {"RG32", kFormatRgb, 32},   {"rg24", kFormatRgb, 24},  {"yuy2", kFormatYUY2, 16},
      {"YVYU", kFormatYVYU, 16},  {"UyVy", kFormatUYVY, 16}, {"HDYC", kFormatHDYC, 16},
      {"YUY2X", kFormatYUY2, 16}, {"YUY", kFormatUYVY, 16},  {"", kFormatUYVY, 16},
  };
  EXPECT_EQ(kFormatYUY2, 0x32595559u);
  EXPECT_EQ(kFormatHDYC, 0x43594448u);
  for (const Case& c : cases) {
    StreamConfiguration config =
        Load(std::string("[PRESET_DEF]\nfcc=UYVY\n[PRESET_01]\nenable=1\nfcc=") + c.fcc + "\n");
    EXPECT_EQ(config.presets[0].compression, c.compression) << c.fcc;
    EXPECT_EQ(config.presets[0].bit_count, c.bits) << c.fcc;
  }
}

TEST_F(LoadConfiguration, FrameTimeIsTicksFrom1000OnAndARateBelow) {
  EXPECT_EQ(FrameTimeOf("400000"), 400000);
  EXPECT_EQ(FrameTimeOf("25"), 400000);
  EXPECT_EQ(FrameTimeOf("29.97"), 333667);
  EXPECT_EQ(FrameTimeOf("30"), 333333);
  EXPECT_EQ(FrameTimeOf("59.94"), 166833);
  EXPECT_EQ(FrameTimeOf("999.5"), 10005);
  EXPECT_EQ(FrameTimeOf("1000.0"), 1000);
  EXPECT_EQ(FrameTimeOf("-30"), -333333);
  EXPECT_EQ(FrameTimeOf("1e8"), 0) << "a rate above 10 million frames per second";
  // Nothing usable keeps the previous value: PRESET_DEF's, else the built-in one.
  EXPECT_EQ(FrameTimeOf("0"), 333667);
  EXPECT_EQ(FrameTimeOf("word"), 333667);
  EXPECT_EQ(FrameTimeOf(""), 333667);
  EXPECT_EQ(FrameTimeOf("0", "frame_time=500000\n"), 500000);
  // A rate so small that its frame time has no 64-bit value leaves the frame time alone.
  EXPECT_EQ(FrameTimeOf("1e-30"), 333667);
}

TEST_F(LoadConfiguration, SizesScrollAndInterlaceAreNormalised) {
  struct Case {
    const char* keys;
    int32_t w, h, scroll_x, scroll_y, interlaced;
  };
  const Case cases[] = {
      {"w=321\nh=59\n", 322, 60, 0, 0, 0},
      {"w=0\nh=0\n", 80, 60, 0, 0, 0},
      {"scroll_x=-3\nscroll_y=5\n", 320, 240, -4, 6, 0},
      {"scroll_x=-2\nscroll_y=2147483647\n", 320, 240, -2, 2147483646, 0},
      {"scroll_x=-2147483647\n", 320, 240, -2147483646, 0, 0},
      {"interlaced=3\n", 320, 240, 0, 0, 0},
      {"interlaced=-1\n", 320, 240, 0, 0, 0},
      {"interlaced=2\n", 320, 240, 0, 0, 2},
      // Negative and absurd sizes are clamped into the usable range.
      {"w=-640\nh=-481\n", 80, 60, 0, 0, 0},
      {"w=99999\nh=2147483647\n", kMaxFrameDimension, kMaxFrameDimension, 0, 0, 0},
  };
  for (const Case& c : cases) {
    StreamConfiguration config = Load(std::string("[PRESET_01]\nenable=1\n") + c.keys);
    const Preset& p = config.presets[0];
    EXPECT_EQ(p.w, c.w) << c.keys;
    EXPECT_EQ(p.h, c.h) << c.keys;
    EXPECT_EQ(p.scroll_x, c.scroll_x) << c.keys;
    EXPECT_EQ(p.scroll_y, c.scroll_y) << c.keys;
    EXPECT_EQ(p.interlaced, c.interlaced) << c.keys;
  }
}

TEST_F(LoadConfiguration, HostileFilesGiveDefaultsOrClippedValues) {
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>((i * 7919) & 0xff));
  ExpectBuiltInDefaults(Load(binary));

  StreamConfiguration long_line =
      Load("[PRESET_01]\nenable=1\ncomment=" + std::string(100000, 'c') +
           "\nbmp=" + std::string(300, 'b') + "\nw=640\n");
  EXPECT_EQ(std::strlen(long_line.presets[0].comment), 259u);
  EXPECT_EQ(std::string(long_line.presets[0].bmp), std::string(259, 'b'));
  EXPECT_EQ(long_line.presets[0].w, 640);

  StreamConfiguration overflow = Load(
      "[MAIN]\nbuff_num=99999999999\n[PRESET_01]\nenable=1\n"
      "scroll_x=-99999999999\nframe_time=99999999999\n");
  EXPECT_EQ(overflow.buff_num, 2147483647);
  EXPECT_EQ(overflow.presets[0].scroll_x, -2147483648);
  EXPECT_EQ(overflow.presets[0].frame_time, 2147483647);

  // A huge count probes a bounded number of sections and still finds the enabled ones.
  StreamConfiguration huge = Load(
      "[MAIN]\npreset_num=2000000000\n[PRESET_01]\nenable=1\n"
      "[PRESET_999]\nenable=1\nw=1000\n[PRESET_1000]\nenable=1\n");
  ASSERT_EQ(huge.preset_num, 2);
  EXPECT_EQ(huge.presets[1].w, 1000);
}

TEST_F(LoadConfiguration, LoadingAgainReplacesTheTable) {
  std::string path = dir_.Write("again.ini",
                                "[MAIN]\npreset_num=2\n[PRESET_01]\nenable=1\n"
                                "[PRESET_02]\nenable=1\n");
  StreamConfiguration config;
  ASSERT_TRUE(config.LoadConfigurationFrom(path.c_str()));
  EXPECT_EQ(config.preset_num, 2);
  ASSERT_TRUE(config.LoadConfigurationFrom(dir_.PathOf("missing.ini").c_str()));
  EXPECT_EQ(config.preset_num, 1);
  EXPECT_EQ(config.presets.Capacity(), 1);
}

}  // namespace
}  // namespace qp::config
