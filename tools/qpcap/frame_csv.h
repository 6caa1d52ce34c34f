// The per-frame figures of a measured run as CSV, one row per received frame.
#pragma once

#include <cstdio>
#include <vector>

#include "frame_statistics.h"

namespace qpcap {

// Columns: frame, start_ms, stop_ms (time stamps; empty when unstamped), arrival_ms (since the
// first arrival), interval_ms (since the previous arrival), stream_ms (graph clock at arrival),
// lateness_ms (stream_ms - start_ms), continuous (1 when start = previous stop).
// The file stays open; false when a write fails.
bool WriteFrameCsv(std::FILE* file, const std::vector<FrameRecord>& frames,
                   int64_t ticks_per_second);

}  // namespace qpcap
