// What the worker thread spends its time on, frame by frame, and what a stream start-up costs.
// The worker writes without a lock and without allocating; tools read copies at any time
// through the filter's statistics interface. The plain structs are that interface's data and
// have the same layout in 32-bit and 64-bit modules.
#pragma once

#include <atomic>
#include <cstdint>

namespace qp::stream {

// One delivered frame; times in µs.
struct FrameTimes {
  uint32_t frame;          // the frame count the frame carries (wraps like it)
  int32_t wait_buffer_us;  // waiting for a free sample from the downstream's allocator
  int32_t compose_us;      // filling the sample, without the wait for the due time
  int32_t wait_due_us;     // waiting for the due time
  int32_t deliver_us;      // inside the downstream's Receive
  int32_t late_us;         // the delivery began this long after the frame was due
  int32_t downstream_us;   // the part of late_us the downstream held the worker (Receive,
                           // waiting for a buffer), also when carried over from earlier frames
  int32_t wake_late_us;    // of the rest, how long the wait for the due time overran it,
                           // also when carried over
  int32_t worker_cpu_ms;   // the worker thread's processor time since the stream started,
                           // read about once a second, after this frame's delivery; -1 on
                           // the other frames and when the system cannot tell
};

// The last start-up (Pause of a stopped filter); µs, -1 when not measured.
struct StartupTimes {
  int32_t activate_us;        // the whole of the pin's activation
  int32_t commit_us;          // committing the allocator (its buffers)
  int32_t thread_us;          // creating the worker thread
  int32_t init_us;            // from the thread's creation to the stream's start-up answered
  int32_t start_up_us;        // of it, the stream's own start-up (the rest: the new thread
                              // getting to run, with the system's per-thread set-up)
  int32_t background_us;      // of it, the background picture
  int32_t glyphs_us;          // of it, the glyph sheet
  int32_t background_cached;  // 1: the background came from the picture cache
  int32_t glyphs_cached;
};

struct StreamTotals {
  uint64_t frames;  // delivered since the stream started
  int64_t wait_buffer_us;
  int64_t compose_us;
  int64_t wait_due_us;
  int64_t deliver_us;
  int64_t worker_cpu100ns;  // kernel + user time of the worker thread in the current (or last)
                            // stream; -1 when the system cannot tell
  uint64_t late_frames;     // delivered more than a frame time after they were due
  uint64_t downstream_late_frames;  // of those, the ones the downstream held up the most
  int32_t max_source_late_us;       // largest late_us - downstream_us
  int32_t max_downstream_us;
  StartupTimes startup;
  // Performance-counter readings of the last start, comparable with the reader's own in the
  // same process; 0 when not reached yet.
  int64_t run_called_at;     // the filter's Run reached the pin
  int64_t run_seen_at;       // the worker saw the running state
  int64_t first_stamped_at;  // the first frame was stamped
};

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
