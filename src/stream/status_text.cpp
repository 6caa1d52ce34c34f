#include "stream/status_text.h"

#include <cstdio>

namespace qp::stream {
namespace {

// Differences of clock readings wrap like the readings themselves instead of overflowing.
int32_t WrappingDifference(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

}  // namespace

const char* FormatName(uint32_t compression, int32_t bitCount) {
  switch (compression) {
    case config::kFormatRgb:
      if (bitCount == 32) return "RG32";
      if (bitCount == 24) return "RG24";
      return "****";
    case config::kFormatYUY2: return "YUY2";
    case config::kFormatYVYU: return "YVYU";
    case config::kFormatUYVY: return "UYVY";
    case config::kFormatHDYC: return "HDYC";
    default: return "****";
  }
}

void FormatHeaderLine(char (&dest)[kTextSize], const config::Preset& preset, bool cpuClock) {
  const int wanted =
      std::snprintf(dest, sizeof dest, "%dx%d%s %s %s #g%s", preset.w, preset.h,
                    preset.interlaced == 0 ? "p" : "i",
                    FormatName(preset.compression, preset.bit_count),
                    cpuClock ? "#rCPU Clock" : "#rStream Time", preset.comment);
  // A comment too long for the line is cut at its end; the format and size stay readable.
  static_cast<void>(wanted);
}

void FormatStatusLine(char (&dest)[kTextSize], int32_t frameWidth, int32_t frameCount,
                      int32_t dropCount, int32_t clockMs, double fps) {
  const uint32_t ms = static_cast<uint32_t>(clockMs);
  if (static_cast<uint32_t>(frameWidth) <= 480) {
    std::snprintf(dest, sizeof dest, "#yFR#w%4d#y(#w%d#y) TM#w%3u.%03u#ys FPS#w%4.2f",
                  frameCount, dropCount, ms / 1000, ms % 1000, fps);
    return;
  }
  std::snprintf(dest, sizeof dest,
                "#yFrame#w%-4d#y #yDrop#w%-2d#y Time#w%u#yh#w%02u#ym#w%02u#ys#w%03u#yms FPS#w%5.2f",
                frameCount, dropCount, ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000,
                fps);
}

void FormatLatencyLine(char (&dest)[kTextSize], int32_t clockMs, int32_t previousClockMs,
                       int64_t sampleStart) {
  const int32_t stampMs = static_cast<int32_t>(static_cast<uint64_t>(sampleStart / 10000));
  std::snprintf(dest, sizeof dest, "%8d(%3d)ms: Latancy=%4dms, TimeStamp=%4dms\r\n", clockMs,
                WrappingDifference(clockMs, previousClockMs),
                WrappingDifference(stampMs, clockMs), stampMs);
}

}  // namespace qp::stream
