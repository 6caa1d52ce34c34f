// Figures of a measured run, computed from what each frame carried and when it arrived.
// No Windows header: the arithmetic is plain.
#pragma once

#include <cstdint>
#include <vector>

namespace qpcap {

// One received frame. Times in 100 ns; arrival in performance-counter ticks.
struct FrameRecord {
  bool stamped = false;  // The sample carried a start and a stop time.
  int64_t start = 0;
  int64_t stop = 0;
  int64_t arrival_ticks = 0;
  int64_t stream_time = 0;  // Graph clock at arrival, relative to the run's start.
};

struct Spread {
  double median = 0, p99 = 0, max = 0, min = 0;  // ms
};

struct FrameStatistics {
  int64_t frames = 0;
  int64_t unstamped = 0;
  int64_t breaks = 0;         // Stamped frames whose start is not the previous stop.
  int64_t first_break = -1;   // Frame index of the first break.
  double stream_seconds = 0;  // Last stop minus first start.
  Spread interval;            // Between successive arrivals.
  Spread lateness;            // Stream time at arrival minus the frame's start.
  bool Continuous() const { return frames > 0 && unstamped == 0 && breaks == 0; }
};

// Interpolated between the nearest ranks; sorted must be ascending and not empty.
double Percentile(const std::vector<double>& sorted, double fraction);

// Median, 99th percentile, maximum and minimum; all zero for no values.
Spread SpreadOf(std::vector<double> values);

FrameStatistics ComputeStatistics(const std::vector<FrameRecord>& frames, int64_t ticks_per_second);

}  // namespace qpcap
