// Figures of the source's worker thread over a measured run, from the frame records the filter
// keeps (see src/interface/stream_statistics.h). No Windows header: the arithmetic is plain.
#pragma once

#include <cstdint>
#include <vector>

#include "frame_statistics.h"
#include "interface/stream_statistics.h"

namespace qpcap {

struct Stall {
  uint32_t frame = 0;
  double late_ms = 0, downstream_ms = 0, wake_ms = 0;
  // Where the downstream held the worker: this frame's wait for a buffer, the delivery of the
  // frame before.
  double buffer_ms = 0, previous_deliver_ms = 0;
  // For a frame late by composing: how long, at least, the worker had no processor while the
  // frames around it were composed; -1 when the records cannot tell.
  double no_processor_ms = -1;
};

struct WorkerSummary {
  int64_t frames = 0;
  Spread late;         // delivery after the due time, ms
  Spread source_late;  // the part of it that was not the downstream's
  // Frames delivered more than a frame time after their due time, by what held them most:
  int64_t late_by_downstream = 0;
  int64_t late_by_wake = 0;     // the system woke the worker late
  int64_t late_by_compose = 0;  // the worker's own composing
  // Late while composing, but the worker had no processor for at least half of the stall: the
  // system's doing, told from the worker's processor time (read about once a second).
  int64_t late_by_no_processor = 0;
  double wait_buffer_ms = 0, compose_ms = 0, wait_due_ms = 0, deliver_ms = 0;  // means
  std::vector<Stall> worst;  // the latest frames, worst first, at most `worst_count`
};

WorkerSummary SummarizeWorker(const std::vector<qp::FrameTimes>& records, double frame_ms,
                              size_t worst_count);

}  // namespace qpcap
