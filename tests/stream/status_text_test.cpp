// Exact texts: the status line in both widths, the latency line with its wrapping differences,
// and the header line for every format name and for each way the clock is chosen.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "stream/status_text.h"
#include "support/stream_test_doubles.h"

namespace qp::stream::test {
namespace {

TEST(StatusLine, ShortUpTo480PixelsLongAbove) {
  char text[kTextSize];
  FormatStatusLine(text, 480, 5, 0, 1234, 0.0);
  EXPECT_STREQ(text, "#yFR#w   5#y(#w0#y) TM#w  1.234#ys FPS#w0.00");
  FormatStatusLine(text, 482, 123, 4, 3723456, 29.97);
  EXPECT_STREQ(text, "#yFrame#w123 #y #yDrop#w4 #y Time#w1#yh#w02#ym#w03#ys#w456#yms FPS#w29.97");
  // The width is compared unsigned; the clock is read as unsigned milliseconds.
  FormatStatusLine(text, -2, 0, 0, -1, 0.0);
  EXPECT_STREQ(text,
               "#yFrame#w0   #y #yDrop#w0 #y Time#w1193#yh#w02#ym#w47#ys#w295#yms FPS#w 0.00");
}

TEST(LatencyLine, ClockStepLatencyAndStamp) {
  char text[kTextSize];
  FormatLatencyLine(text, 1234, 1201, 12330000);
  EXPECT_STREQ(text, "    1234( 33)ms: Latancy=  -1ms, TimeStamp=1233ms\r\n");
  // Differences across the 32-bit wrap stay small instead of overflowing.
  FormatLatencyLine(text, INT32_MIN + 5, INT32_MAX - 4, 0);
  EXPECT_STREQ(text, "-2147483643( 10)ms: Latancy=2147483643ms, TimeStamp=   0ms\r\n");
}

TEST(HeaderLine, FormatNamesInterlaceMarksAndClocks) {
  struct Case {
    uint32_t compression;
    int32_t bit_count;
    int32_t interlaced;
    bool cpu;
    const char* expected;
  };
  const Case cases[] = {
      {config::kFormatRgb, 32, 0, true, "640x480p RG32 #rCPU Clock #gtest"},
      {config::kFormatRgb, 24, 2, false, "640x480i RG24 #rStream Time #gtest"},
      {config::kFormatYUY2, 16, 1, true, "640x480i YUY2 #rCPU Clock #gtest"},
      {config::kFormatYVYU, 16, 0, true, "640x480p YVYU #rCPU Clock #gtest"},
      {config::kFormatUYVY, 16, 0, true, "640x480p UYVY #rCPU Clock #gtest"},
      {config::kFormatHDYC, 16, 0, true, "640x480p HDYC #rCPU Clock #gtest"},
      {config::kFormatRgb, 16, 0, true, "640x480p **** #rCPU Clock #gtest"},
      {config::FourCC('M', 'J', 'P', 'G'), 16, 0, true, "640x480p **** #rCPU Clock #gtest"},
  };
  config::Preset preset{};
  preset.w = 640;
  preset.h = 480;
  std::memcpy(preset.comment, "test", 5);
  char text[kTextSize];
  for (const Case& c : cases) {
    preset.compression = c.compression;
    preset.bit_count = c.bit_count;
    preset.interlaced = c.interlaced;
    FormatHeaderLine(text, preset, c.cpu);
    EXPECT_STREQ(text, c.expected);
  }
  // A comment of 259 characters is cut so that the whole line keeps 259.
  std::memset(preset.comment, 'c', 259);
  preset.comment[259] = '\0';
  FormatHeaderLine(text, preset, true);
  EXPECT_EQ(std::strlen(text), 259u);
}

// The graph's stream time paces the stream only when auto_clock asks for it and the graph had
// a clock at start-up.
TEST(HeaderLine, ClockChosenAtStartUp) {
  struct Case {
    const char* main;
    bool graph_clock;
    const char* expected;
  };
  const Case cases[] = {
      {"auto_clock=0\n", true, "320x240p RG24 #rCPU Clock #g"},
      {"auto_clock=1\n", true, "320x240p RG24 #rStream Time #g"},
      {"auto_clock=1\n", false, "320x240p RG24 #rCPU Clock #g"},
  };
  for (const Case& c : cases) {
    StreamRig rig("w=320\nh=240\nfcc=RG24\n", c.main);
    rig.services.has_clock = c.graph_clock;
    rig.Start();
    EXPECT_STREQ(rig.pin->header_line(), c.expected) << c.main << c.graph_clock;
  }
}

}  // namespace
}  // namespace qp::stream::test
