#include "frame/status_text.h"

#include <cstdio>

#include "synth/glyph_band.h"
#include "synth/pixel_format_code.h"

namespace qp::frame {
namespace {

// Differences of clock readings wrap like the readings themselves instead of overflowing.
int32_t WrappingDifference(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

}  // namespace

void FormatHeaderLine(char (&dest)[kTextSize], const config::Preset& preset, bool cpu_clock) {
  const int wanted = std::snprintf(dest, sizeof dest, "%dx%d%s %s %s #g%s", preset.w, preset.h,
                                   preset.interlaced == 0 ? "p" : "i",
                                   synth::FormatName(preset.compression, preset.bit_count),
                                   cpu_clock ? "#rCPU Clock" : "#rStream Time", preset.comment);
  // A comment too long for the line is cut at its end; the format and size stay readable.
  static_cast<void>(wanted);
}

void FormatStatusLine(char (&dest)[kTextSize], int32_t frame_width, int32_t frame_count,
                      int32_t drop_count, int32_t clock_ms, double fps) {
  const uint32_t ms = static_cast<uint32_t>(clock_ms);
  if (ShortForm(frame_width)) {
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

std::vector<TextCell> DrawnCells(const char* coded) {
  std::vector<TextCell> cells;
  int32_t band = synth::kBandWhite;
  for (const char* p = coded; p != nullptr && *p != '\0'; ++p) {
    char c = *p;
    if (c == '#') {
      c = *++p;
      if (c == '\0') break;
      if (c != '#') {
        const int32_t selected = synth::BandOfLetter(c);
        if (selected >= 0) band = selected;
        continue;
      }
    }
    cells.push_back({c, band});
  }
  return cells;
}

std::string PlainText(const char* coded) {
  std::string plain;
  for (const TextCell& cell : DrawnCells(coded)) plain.push_back(cell.glyph);
  return plain;
}

}  // namespace qp::frame
