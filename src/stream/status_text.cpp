#include "stream/status_text.h"

#include <cstdio>

namespace qp::stream {
namespace {

// Differences of clock readings wrap like the readings themselves instead of overflowing.
int32_t WrappingDifference(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

}  // namespace

const char* FormatName(uint32_t compression, int32_t bit_count) {
  switch (compression) {
    case config::kFormatRgb:
      if (bit_count == 32) return "RG32";
      if (bit_count == 24) return "RG24";
      return "****";
    case config::kFormatYUY2: return "YUY2";
    case config::kFormatYVYU: return "YVYU";
    case config::kFormatUYVY: return "UYVY";
    case config::kFormatHDYC: return "HDYC";
    default: return "****";
  }
}

void FormatHeaderLine(char (&dest)[kTextSize], const config::Preset& preset, bool cpu_clock) {
  const int wanted = std::snprintf(dest, sizeof dest, "%dx%d%s %s %s #g%s", preset.w, preset.h,
                                   preset.interlaced == 0 ? "p" : "i",
                                   FormatName(preset.compression, preset.bit_count),
                                   cpu_clock ? "#rCPU Clock" : "#rStream Time", preset.comment);
  // A comment too long for the line is cut at its end; the format and size stay readable.
  static_cast<void>(wanted);
}

void FormatStatusLine(char (&dest)[kTextSize], int32_t frame_width, int32_t frame_count,
                      int32_t drop_count, int32_t clock_ms, double fps) {
  const uint32_t ms = static_cast<uint32_t>(clock_ms);
  if (static_cast<uint32_t>(frame_width) <= 480) {
    std::snprintf(dest, sizeof dest, "#yFR#w%4d#y(#w%d#y) TM#w%3u.%03u#ys FPS#w%4.2f", frame_count,
                  drop_count, ms / 1000, ms % 1000, fps);
    return;
  }
  std::snprintf(dest, sizeof dest,
                "#yFrame#w%-4d#y #yDrop#w%-2d#y Time#w%u#yh#w%02u#ym#w%02u#ys#w%03u#yms FPS#w%5.2f",
                frame_count, drop_count, ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000,
                fps);
}

void FormatLatencyLine(char (&dest)[kTextSize], int32_t clock_ms, int32_t previous_clock_ms,
                       int64_t sample_start) {
  const int32_t stamp_ms = static_cast<int32_t>(static_cast<uint64_t>(sample_start / 10000));
  std::snprintf(dest, sizeof dest, "%8d(%3d)ms: Latancy=%4dms, TimeStamp=%4dms\r\n", clock_ms,
                WrappingDifference(clock_ms, previous_clock_ms),
                WrappingDifference(stamp_ms, clock_ms), stamp_ms);
}

}  // namespace qp::stream
