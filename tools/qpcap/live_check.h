// measure --check: reads the status line of every frame as it arrives, so a measurement also
// says which of the source's frames reached the application and how far behind its clock.
#pragma once

#include <strmif.h>

#include <cstdint>
#include <memory>
#include <string>

#include "capture_setup.h"
#include "video_format.h"

namespace qpcap {

class LiveCheck {
 public:
  LiveCheck();
  ~LiveCheck();

  // Before the run. False with a message when the install folder cannot be read.
  bool Open(const CommandOptions& options, const VideoFormat& format, std::string& error);

  // Streaming thread: one arrived frame and its arrival on the graph clock, in ms.
  void Add(IMediaSample* sample, double arrival_ms);

  // After the run, before Finish: the source's own account of its late frames.
  void SetLateAccount(int64_t late, int64_t downstream, int64_t system, int64_t composing);

  // After the run: the check's summary on stdout, and its JSON when asked for. Returns the
  // exit code the check alone would give.
  int Finish(const CommandOptions& options);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qpcap
