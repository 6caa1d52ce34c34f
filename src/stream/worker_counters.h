// What the worker thread spends its time on, frame by frame, and what a stream start-up costs.
// The worker writes without a lock and without allocating; tools read copies at any time
// through the filter's statistics interface, whose records these are.
#pragma once

#include <atomic>
#include <cstdint>

#include "interface/stream_statistics.h"

namespace qp::stream {

// The worker's side and the readers'. Add writes a record's slot before it publishes the
// record, so the slot after the newest one may be half written at any time: a reader gets at
// most the newest kCapacity - 1 records, and ReadFrames drops those written over while it
// copied them.
class WorkerCounters {
 public:
  static constexpr uint32_t kCapacity = 4096;  // more than a minute at 60 fps

  // Worker, at the stream's start-up; readers may see a mixture for that moment.
  void Reset();
  // Worker, once per delivered frame.
  void Add(const FrameTimes& times, int32_t frame_time_us);
  // Any thread. Copies records of delivery indexes [first, ...) up to `capacity`; when the
  // oldest asked for is gone, starts at the oldest kept (of the last kCapacity - 1). *from: the index of records[0];
  // returns the number copied.
  uint32_t ReadFrames(uint64_t first, FrameTimes* records, uint32_t capacity, uint64_t* from) const;
  // Any thread; everything but worker_cpu100ns and startup.
  void ReadTotals(StreamTotals& totals) const;

  // Start-up figures: control thread and worker, read by anyone.
  std::atomic<int32_t> activate_us{-1}, commit_us{-1}, thread_us{-1}, init_us{-1}, start_up_us{-1};
  std::atomic<int32_t> background_us{-1}, glyphs_us{-1}, background_cached{0}, glyphs_cached{0};
  std::atomic<int64_t> run_called_at{0}, run_seen_at{0}, first_stamped_at{0};

 private:
  FrameTimes ring_[kCapacity] = {};
  std::atomic<uint64_t> written_{0};
  // Written by the worker only; atomics so that readers see whole values.
  std::atomic<int64_t> wait_buffer_us_{0}, compose_us_{0}, wait_due_us_{0}, deliver_us_{0};
  std::atomic<uint64_t> late_frames_{0}, downstream_late_frames_{0};
  std::atomic<int32_t> max_source_late_us_{0}, max_downstream_us_{0};
};

}  // namespace qp::stream
