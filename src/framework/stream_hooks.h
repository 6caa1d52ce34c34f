// The contract between a stream and the framework's stream pin: the hooks a stream supplies
// and the services the framework offers it while it works. The stream pin implements
// StreamServices and drives StreamHooks; a stream is written against these two alone.
#pragma once

#include <windows.h>

#include <strmif.h>

#include <cstdint>

#include "framework/critical_section.h"
#include "framework/media_type.h"
#include "framework/stream_command.h"

namespace qp::framework {

// Readings of StreamHooks::LoopClock the stream loop takes around one sample.
struct SampleTimes {
  int64_t asked;       // before asking the allocator for a free sample
  int64_t got;         // the sample in hand
  int64_t delivering;  // filled, before the downstream's Receive
  int64_t delivered;   // Receive returned
};

// Every hook answers an HRESULT, except the two timing hooks. Worker-thread hooks run without the pin lock and must never
// wait for it: a control thread holds it while it waits for the worker's answer to a command.
class StreamHooks {
 public:
  // Worker thread, no framework lock held. S_OK: deliver the sample; S_FALSE: end of stream;
  // anything else: end of stream and an error-abort event carrying the code.
  virtual HRESULT FillSample(IMediaSample* sample) = 0;
  // Worker thread, on CommandInit. A failure code fails the pin's activation; OnThreadStop
  // still follows.
  virtual HRESULT OnThreadStart() { return S_OK; }
  // Worker thread, at each stop of the stream, after a failed OnThreadStart too; the thread
  // may then wait for the next start. The result answers the stop (after a failed
  // OnThreadStart, that failure is the answer).
  virtual HRESULT OnThreadStop() { return S_OK; }
  // Worker thread, at the start of each stream loop; the result is not used.
  virtual HRESULT OnStreamStart() { return S_OK; }
  // Worker thread: the clock the loop reads for OnSampleDone; the performance counter unless
  // the stream paces by another.
  virtual int64_t LoopClock() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
  }
  // Worker thread, after each sample the downstream accepted. Must not block or allocate.
  virtual void OnSampleDone(const SampleTimes& /*times*/) {}

  // Any thread, the pin lock held by some callers only; must not take it (a downstream filter
  // asks from inside Receive, on the worker thread). S_OK; VFW_S_NO_MORE_ITEMS past the end;
  // E_INVALIDARG for a negative index.
  virtual HRESULT GetOfferedType(int32_t index, MediaType* type) = 0;
  // Any thread, the pin lock held by some callers only; must not take it. S_OK accepts;
  // anything else refuses.
  virtual HRESULT CheckType(const MediaType* type) = 0;
  // Control thread, pin lock held. A failure breaks the connection.
  virtual HRESULT SetType(const MediaType* type) = 0;
  // Control thread, pin lock held. S_OK when the allocator took buffers large enough.
  virtual HRESULT SizeBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;

 protected:
  virtual ~StreamHooks() = default;
};

// Offered by the stream pin to its stream; every call but WaitForCommand is answered without
// blocking and, except PinLock's lock itself, without taking any lock.
class StreamServices {
 public:
  // Worker thread. True with the posted command when one waits for the worker; the command
  // stays posted.
  virtual bool PeekCommand(StreamCommand& command) = 0;
  // Worker thread. As PeekCommand, but waits up to timeout_us for a command to be posted: the
  // worker sleeps long and still sees a stop at once. May end early without a command.
  virtual bool WaitForCommand(int64_t timeout_us, StreamCommand& command) = 0;
  // True when WaitForCommand ends within µs of its timeout; false when it keeps only to the
  // system's tick (whole ms, and later by up to one).
  virtual bool FineCommandWait() = 0;
  // The graph's reference-clock time minus the run start time, 100 ns; VFW_E_NO_CLOCK when
  // the filter has no clock.
  virtual HRESULT GetStreamTime(REFERENCE_TIME& time) = 0;
  // IBaseFilter::GetState of the owning filter (VFW_S_CANT_CUE while paused is a success).
  virtual HRESULT GetFilterState(DWORD timeout_ms, FILTER_STATE& state) = 0;
  // The owning filter's FilterLock, recursive; the connection hooks run with it held.
  virtual CriticalSection& PinLock() = 0;
  // The pin's default SetType: records `type` as the connection type (E_OUTOFMEMORY when the
  // copy fails).
  virtual HRESULT SetConnectionType(const MediaType& type) = 0;
  // The recorded connection type; read it with the pin lock held.
  virtual const MediaType& ConnectionType() = 0;

 protected:
  ~StreamServices() = default;
};

}  // namespace qp::framework
