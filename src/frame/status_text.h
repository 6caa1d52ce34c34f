// The texts of a frame: the header line built at start-up and the status line drawn into every
// frame, plus the latency line handed to the log. Colour codes ("#y", "#w", ...) are part of
// the text; DrawnCells says what the glyph drawing makes of them, cell by cell.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/preset.h"

namespace qp::frame {

// Every text fits 259 characters and its terminator; longer results are cut.
constexpr int kTextSize = 260;

// Frames up to this width (compared unsigned) show the short form of the status line.
constexpr uint32_t kShortFormMaxWidth = 480;
constexpr bool ShortForm(int32_t frame_width) {
  return static_cast<uint32_t>(frame_width) <= kShortFormMaxWidth;
}

// "<w>x<h><p|i> <format> <clock> #g<comment>".
void FormatHeaderLine(char (&dest)[kTextSize], const config::Preset& preset, bool cpu_clock);

// The short form up to a frame width of 480, the long form with hours and minutes above.
// `clock_ms` is the pacing clock, read as unsigned milliseconds.
void FormatStatusLine(char (&dest)[kTextSize], int32_t frame_width, int32_t frame_count,
                      int32_t drop_count, int32_t clock_ms, double fps);

// One log line: clock, time since the previous frame, how far the sample's start lies ahead
// of the clock (negative when behind), and the start itself; all ms, wrapping in 32 bits.
void FormatLatencyLine(char (&dest)[kTextSize], int32_t clock_ms, int32_t previous_clock_ms,
                       int64_t sample_start);

// One drawn cell: its character and the glyph band it is drawn from.
struct TextCell {
  char glyph = ' ';
  int32_t band = 0;
};

// The cells the glyph drawing advances over for a coded text of one line: band codes select
// the band (white at first), "##" is one "#", "#" and an unknown letter draw nothing.
std::vector<TextCell> DrawnCells(const char* coded);
// The text as drawn: colour codes removed, "##" as one "#".
std::string PlainText(const char* coded);

}  // namespace qp::frame
