#include "worker_summary.h"

#include <algorithm>

namespace qpcap {
WorkerSummary SummarizeWorker(const std::vector<qp::stream::FrameTimes>& records,
                              double frame_ms, size_t worst_count) {
  WorkerSummary summary;
  summary.frames = int64_t(records.size());
  if (records.empty()) return summary;
  std::vector<double> late, source;
  std::vector<Stall> stalls;
  double buffer = 0, compose = 0, due = 0, deliver = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    const auto& r = records[i];
    const double late_ms = r.lateUs / 1000.0, down_ms = r.downstreamUs / 1000.0;
    const double wake_ms = r.wakeLateUs / 1000.0;
    late.push_back(late_ms);
    source.push_back(late_ms - down_ms);
    buffer += r.waitBufferUs / 1000.0;
    compose += r.composeUs / 1000.0;
    due += r.waitDueUs / 1000.0;
    deliver += r.deliverUs / 1000.0;
    if (late_ms > frame_ms) {
      const double own = late_ms - down_ms;
      if (down_ms >= own)
        ++summary.late_by_downstream;
      else if (wake_ms >= own - wake_ms)
        ++summary.late_by_wake;
      else
        ++summary.late_by_compose;
    }
    stalls.push_back({r.frame, late_ms, down_ms, wake_ms, r.waitBufferUs / 1000.0,
                      i > 0 ? records[i - 1].deliverUs / 1000.0 : 0.0});
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
