// The texts the stream formats: the header line built at start-up, the status line drawn into
// every frame and the latency line handed to the log. Colour codes ("#y", "#w", ...) are part
// of the text; the glyph drawing interprets them.
#pragma once

#include <cstdint>

#include "config/preset.h"

namespace qp::stream {

// Every text fits 259 characters and its terminator; longer results are cut.
constexpr int kTextSize = 260;

// "RG32", "RG24", "YUY2", "YVYU", "UYVY", "HDYC", or "****" for any other pair.
const char* FormatName(uint32_t compression, int32_t bit_count);

// "<w>x<h><p|i> <format> <clock> #g<comment>".
void FormatHeaderLine(char (&dest)[kTextSize], const config::Preset& preset, bool cpu_clock);

// The short form up to a frame width of 480 (compared unsigned), the long form with hours and
// minutes above. `clock_ms` is the pacing clock, read as unsigned milliseconds.
void FormatStatusLine(char (&dest)[kTextSize], int32_t frame_width, int32_t frame_count,
                      int32_t drop_count, int32_t clock_ms, double fps);

// One log line: clock, time since the previous frame, how far the sample's start lies ahead
// of the clock (negative when behind), and the start itself; all ms, wrapping in 32 bits.
void FormatLatencyLine(char (&dest)[kTextSize], int32_t clock_ms, int32_t previous_clock_ms,
                       int64_t sample_start);

}  // namespace qp::stream
