// The filter's statistics: what its worker thread spent on each frame and what the last
// start-up cost, and the private interface that hands them out. The one contract between the
// module and the project's own tools (qpcap): not registered, not marshalled, asked of the
// filter in the same process. The records are plain data with one layout in 32-bit and 64-bit
// builds; the interface exists for Windows only.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <unknwn.h>
#endif

namespace qp {

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

// A tool of another build must find no interface rather than misread one: change the
// interface's identity below whenever these sizes change.
static_assert(sizeof(FrameTimes) == 36, "FrameTimes' layout is part of the interface");
static_assert(sizeof(StartupTimes) == 36, "StartupTimes' layout is part of the interface");
static_assert(sizeof(StreamTotals) == 136, "StreamTotals' layout is part of the interface");
static_assert(offsetof(StreamTotals, run_called_at) == 112, "8-byte aligned in both builds");

#ifdef _WIN32
// {5B0D3C2E-8A41-4F6B-9C7E-2D61A4F08E13}
inline constexpr GUID kStreamStatisticsId = {
    0x5b0d3c2e, 0x8a41, 0x4f6b, {0x9c, 0x7e, 0x2d, 0x61, 0xa4, 0xf0, 0x8e, 0x13}};

// Any thread, the streaming thread included; no call waits for the filter's lock.
struct IStreamStatistics : public IUnknown {
  // Totals since the current (or last) stream started. E_POINTER without `totals`.
  virtual HRESULT STDMETHODCALLTYPE GetTotals(StreamTotals* totals) = 0;
  // Frame records by delivery index since the stream started, from `first` on (from the
  // oldest kept when `first` is gone); *from gets records[0]'s index and *count how many were
  // copied (0 when none is newer). E_POINTER without records, count or from.
  virtual HRESULT STDMETHODCALLTYPE GetFrames(uint64_t first, uint32_t capacity,
                                              FrameTimes* records, uint32_t* count,
                                              uint64_t* from) = 0;

 protected:
  ~IStreamStatistics() = default;
};
#endif  // _WIN32

}  // namespace qp
