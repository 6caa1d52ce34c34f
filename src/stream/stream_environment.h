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
  // As finely as the system sleeps: to the µs under Wine, to its timer resolution on Windows.
  virtual void SleepUs(int64_t microseconds) = 0;
  // Brings the pages of [bytes, bytes + size) into memory at once, leaving the bytes as they
  // are; false when the system will not, and the caller touches them a page at a time.
  virtual bool MakeResident(uint8_t* bytes, std::size_t size) = 0;
  // Kernel plus user time of the calling thread, 100 ns; -1 when the system cannot tell.
  // Costly (tens of µs under Wine): for readings about once a second.
  virtual int64_t ThreadCpuTime() = 0;
  // 1 ms timer resolution (timeBeginPeriod(1) / timeEndPeriod(1)); always called in pairs.
  virtual void BeginTimerPeriod() = 0;
  virtual void EndTimerPeriod() = 0;

 protected:
  ~StreamEnvironment() = default;
};

// The real system; one object for the whole module, without state.
StreamEnvironment& SystemStreamEnvironment();

}  // namespace qp::stream
