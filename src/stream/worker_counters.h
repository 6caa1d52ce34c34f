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
  int32_t waitBufferUs;    // waiting for a free sample from the downstream's allocator
  int32_t composeUs;       // filling the sample, without the wait for the due time
  int32_t waitDueUs;       // waiting for the due time
  int32_t deliverUs;       // inside the downstream's Receive
  int32_t lateUs;          // the delivery began this long after the frame was due
  int32_t downstreamUs;    // the part of lateUs the downstream held the worker (Receive,
                           // waiting for a buffer), also when carried over from earlier frames
  int32_t wakeLateUs;      // of the rest, how long the wait for the due time overran it,
                           // also when carried over
  int32_t workerCpuMs;     // the worker thread's processor time since the stream started,
                           // read about once a second, after this frame's delivery; -1 on
                           // the other frames and when the system cannot tell
};

// The last start-up (Pause of a stopped filter); µs, -1 when not measured.
struct StartupTimes {
  int32_t activateUs;      // the whole of the pin's activation
  int32_t commitUs;        // committing the allocator (its buffers)
  int32_t threadUs;        // creating the worker thread
  int32_t initUs;          // from the thread's creation to the stream's start-up answered
  int32_t startUpUs;       // of it, the stream's own start-up (the rest: the new thread
                           // getting to run, with the system's per-thread set-up)
  int32_t backgroundUs;    // of it, the background picture
  int32_t glyphsUs;        // of it, the glyph sheet
  int32_t backgroundCached;  // 1: the background came from the picture cache
  int32_t glyphsCached;
};

struct StreamTotals {
  uint64_t frames;          // delivered since the stream started
  int64_t waitBufferUs;
  int64_t composeUs;
  int64_t waitDueUs;
  int64_t deliverUs;
  int64_t workerCpu100ns;   // kernel + user time of the worker thread in the current (or last)
                            // stream; -1 when the system cannot tell
  uint64_t lateFrames;      // delivered more than a frame time after they were due
  uint64_t downstreamLateFrames;  // of those, the ones the downstream held up the most
  int32_t maxSourceLateUs;        // largest lateUs - downstreamUs
  int32_t maxDownstreamUs;
  StartupTimes startup;
  // Performance-counter readings of the last start, comparable with the reader's own in the
  // same process; 0 when not reached yet.
  int64_t runCalledAt;      // the filter's Run reached the pin
  int64_t runSeenAt;        // the worker saw the running state
  int64_t firstStampedAt;   // the first frame was stamped
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
  void Add(const FrameTimes& times, int32_t frameTimeUs);
  // Any thread. Copies records of delivery indexes [first, ...) up to `capacity`; when the
  // oldest asked for is gone, starts at the oldest kept (of the last kCapacity - 1). *from: the index of records[0];
  // returns the number copied.
  uint32_t ReadFrames(uint64_t first, FrameTimes* records, uint32_t capacity,
                      uint64_t* from) const;
  // Any thread; everything but workerCpu100ns and startup.
  void ReadTotals(StreamTotals& totals) const;

  // Start-up figures: control thread and worker, read by anyone.
  std::atomic<int32_t> activateUs{-1}, commitUs{-1}, threadUs{-1}, initUs{-1}, startUpUs{-1};
  std::atomic<int32_t> backgroundUs{-1}, glyphsUs{-1}, backgroundCached{0}, glyphsCached{0};
  std::atomic<int64_t> runCalledAt{0}, runSeenAt{0}, firstStampedAt{0};

 private:
  FrameTimes ring_[kCapacity] = {};
  std::atomic<uint64_t> written_{0};
  // Written by the worker only; atomics so that readers see whole values.
  std::atomic<int64_t> waitBufferUs_{0}, composeUs_{0}, waitDueUs_{0}, deliverUs_{0};
  std::atomic<uint64_t> lateFrames_{0}, downstreamLateFrames_{0};
  std::atomic<int32_t> maxSourceLateUs_{0}, maxDownstreamUs_{0};
};

}  // namespace qp::stream
