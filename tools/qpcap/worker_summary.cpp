#include "worker_summary.h"

#include <algorithm>

namespace qpcap {
namespace {

// A processor-time reading is exact only to the system's tick (10 ms under Wine, 15.6 ms on
// Windows); a difference of two readings may be off by one.
constexpr double kCpuTickMs = 16.0;

// How long, at least, the worker had no processor while composing around the stall at frame
// `stall`: composing is pure computation, so its wall time beyond all the processor time the
// worker got between the readings before and after it is time it was not running. -1 when no
// reading precedes or follows the stall.
double NoProcessorMs(const std::vector<qp::FrameTimes>& records, size_t stall) {
  size_t before = stall;
  while (before > 0 && records[before - 1].worker_cpu_ms < 0) --before;
  if (before == 0) return -1;
  --before;  // read after that frame's delivery: the window starts with the next frame
  size_t after = stall;
  while (after < records.size() && records[after].worker_cpu_ms < 0) ++after;
  if (after == records.size()) return -1;
  double composing = 0;
  for (size_t i = before + 1; i <= after; ++i) composing += records[i].compose_us / 1000.0;
  const double cpu = double(records[after].worker_cpu_ms) - double(records[before].worker_cpu_ms);
  return std::max(0.0, composing - cpu - kCpuTickMs);
}

}  // namespace

WorkerSummary SummarizeWorker(const std::vector<qp::FrameTimes>& records, double frame_ms,
                              size_t worst_count) {
  WorkerSummary summary;
  summary.frames = int64_t(records.size());
  if (records.empty()) return summary;
  std::vector<double> late, source;
  std::vector<Stall> stalls;
  double buffer = 0, compose = 0, due = 0, deliver = 0;
  std::vector<double> composing;
  for (const auto& r : records) composing.push_back(r.compose_us / 1000.0);
  const double usual_compose = SpreadOf(std::move(composing)).median;
  // The frame of the longest composing since the worker last ran on time: the stall the late
  // frames after it inherit.
  size_t stall = 0;
  bool behind = false;
  for (size_t i = 0; i < records.size(); ++i) {
    const auto& r = records[i];
    const double late_ms = r.late_us / 1000.0, down_ms = r.downstream_us / 1000.0;
    const double wake_ms = r.wake_late_us / 1000.0;
    late.push_back(late_ms);
    source.push_back(late_ms - down_ms);
    buffer += r.wait_buffer_us / 1000.0;
    compose += r.compose_us / 1000.0;
    due += r.wait_due_us / 1000.0;
    deliver += r.deliver_us / 1000.0;
    if (!behind || r.compose_us > records[stall].compose_us) stall = i;
    behind = late_ms > frame_ms / 2;
    double no_processor = -1;
    if (late_ms > frame_ms) {
      const double own = late_ms - down_ms;
      if (down_ms >= own) {
        ++summary.late_by_downstream;
      } else if (wake_ms >= own - wake_ms) {
        ++summary.late_by_wake;
      } else {
        no_processor = NoProcessorMs(records, stall);
        const double stall_ms = records[stall].compose_us / 1000.0 - usual_compose;
        if (no_processor >= 0 && no_processor >= stall_ms / 2)
          ++summary.late_by_no_processor;
        else
          ++summary.late_by_compose;
      }
    }
    stalls.push_back({r.frame, late_ms, down_ms, wake_ms, r.wait_buffer_us / 1000.0,
                      i > 0 ? records[i - 1].deliver_us / 1000.0 : 0.0, no_processor});
  }
  const double n = double(records.size());
  summary.wait_buffer_ms = buffer / n;
  summary.compose_ms = compose / n;
  summary.wait_due_ms = due / n;
  summary.deliver_ms = deliver / n;
  summary.late = SpreadOf(std::move(late));
  summary.source_late = SpreadOf(std::move(source));
  const size_t keep = std::min(worst_count, stalls.size());
  std::partial_sort(stalls.begin(), stalls.begin() + keep, stalls.end(),
                    [](const Stall& a, const Stall& b) { return a.late_ms > b.late_ms; });
  stalls.resize(keep);
  summary.worst = std::move(stalls);
  return summary;
}

}  // namespace qpcap
