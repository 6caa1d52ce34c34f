#include "frame_statistics.h"

#include <algorithm>
#include <cmath>

namespace qpcap {
Spread SpreadOf(std::vector<double> values) {
  Spread spread;
  if (values.empty()) return spread;
  std::sort(values.begin(), values.end());
  spread.median = Percentile(values, 0.5);
  spread.p99 = Percentile(values, 0.99);
  spread.max = values.back();
  spread.min = values.front();
  return spread;
}

double Percentile(const std::vector<double>& sorted, double fraction) {
  const double position = fraction * double(sorted.size() - 1);
  const size_t below = size_t(std::floor(position));
  const size_t above = std::min(below + 1, sorted.size() - 1);
  return sorted[below] + (sorted[above] - sorted[below]) * (position - double(below));
}

FrameStatistics ComputeStatistics(const std::vector<FrameRecord>& frames,
                                  int64_t ticks_per_second) {
  FrameStatistics result;
  result.frames = int64_t(frames.size());
  std::vector<double> intervals, lateness;
  const FrameRecord* previous_stamped = nullptr;
  const FrameRecord* first_stamped = nullptr;
  for (size_t i = 0; i < frames.size(); ++i) {
    const FrameRecord& frame = frames[i];
    if (i > 0)
      intervals.push_back(double(frame.arrival_ticks - frames[i - 1].arrival_ticks) * 1000.0 /
                          double(ticks_per_second));
    if (!frame.stamped) {
      ++result.unstamped;
      continue;
    }
    if (previous_stamped && frame.start != previous_stamped->stop) {
      if (result.breaks++ == 0) result.first_break = int64_t(i);
    }
    if (!first_stamped) first_stamped = &frame;
    previous_stamped = &frame;
    lateness.push_back(double(frame.stream_time - frame.start) / 1e4);
  }
  if (first_stamped)
    result.stream_seconds = double(previous_stamped->stop - first_stamped->start) / 1e7;
  result.interval = SpreadOf(std::move(intervals));
  result.lateness = SpreadOf(std::move(lateness));
  return result;
}

}  // namespace qpcap
