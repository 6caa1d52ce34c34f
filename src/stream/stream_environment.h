// What the video stream needs of the system besides the framework: its configuration and files,
// and the clocks it paces frames with. The pin uses SystemStreamEnvironment(); tests hand in a
// fake with a clock they control.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "config/stream_configuration.h"
#include "platform/module_location.h"

namespace qp::stream {

class StreamEnvironment {
 public:
  // The stream settings and presets (QuorPlemo.ini beside the module). False when the table's
  // memory cannot be had.
  virtual bool LoadConfiguration(config::StreamConfiguration& settings) = 0;
  // The directory the preset's picture paths are relative to, without a trailing separator.
  virtual void ModuleDirectory(char (&dest)[platform::kMaxPath]) = 0;

  // timeGetTime: milliseconds, wrapping after 2^32 (49.7 days).
  virtual DWORD TickCount() = 0;
  virtual int64_t PerformanceCounter() = 0;
  virtual int64_t PerformanceFrequency() = 0;  // counts per second
  virtual void SleepMs(DWORD milliseconds) = 0;
  // As finely as the system sleeps: to the µs under Wine, to its timer's grid on Windows.
  virtual void SleepUs(int64_t microseconds) = 0;
  // One pause of a busy wait: the processor's spin-wait hint.
  virtual void SpinPause() = 0;
  // A hint that the pages of [bytes, bytes + size) are about to be written: the system may
  // bring them into memory at once. Never locks them, nor changes a byte.
  virtual void PrefetchPages(uint8_t* bytes, std::size_t size) = 0;
  // Kernel plus user time of the calling thread, 100 ns; -1 when the system cannot tell.
  // Costly (tens of µs under Wine): for readings about once a second.
  virtual int64_t ThreadCpuTime() = 0;

  // How late a wait with a timeout may end, µs: on Windows up to one period of the system's
  // timer (15.625 ms by default), under Wine within about 0.1 ms.
  struct TimerGrain {
    int64_t sleep_us = 15625;  // SleepFineUs
    int64_t wait_us = 15625;   // any other wait with a timeout (the command mailbox's)
  };
  // The finest timer the system grants, owned by the stream that set it up.
  struct FineTimer {
    HANDLE waitable = nullptr;   // a high-resolution waitable timer, or null
    bool period_raised = false;  // timeBeginPeriod(1) awaits its timeEndPeriod
    TimerGrain grain;            // what the waits are expected to overrun
  };
  // Sets up `timer`: a high-resolution waitable timer for SleepFineUs where the system has one,
  // otherwise a 1 ms timer resolution. Held while a stream runs: the raised resolution costs
  // the whole system power. Always called in pairs; EndTimerPeriod may come from any thread.
  virtual void BeginTimerPeriod(FineTimer& timer) = 0;
  virtual void EndTimerPeriod(FineTimer& timer) = 0;
  // As SleepUs, on `timer`'s high-resolution timer when it has one.
  virtual void SleepFineUs(const FineTimer& timer, int64_t microseconds) = 0;

 protected:
  ~StreamEnvironment() = default;
};

// The real system; one object for the whole module, without state.
StreamEnvironment& SystemStreamEnvironment();

}  // namespace qp::stream
