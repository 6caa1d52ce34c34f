// The source's own figures, when the device is a Quor Plemo filter: its private statistics
// interface, read in the tool's process. Other devices simply have none.
#pragma once

#include <dshow.h>

#include <cstdint>
#include <vector>

#include "interface/stream_statistics.h"
#include "platform/windows/com_ptr.h"

namespace qpcap {

class WorkerProbe {
 public:
  WorkerProbe() = default;
  ~WorkerProbe();
  WorkerProbe(const WorkerProbe&) = delete;
  WorkerProbe& operator=(const WorkerProbe&) = delete;

  // False when the device does not offer the interface.
  bool Attach(IBaseFilter* source);
  bool attached() const { return statistics_ != nullptr; }

  // Any thread, the streaming one included. False without the interface.
  bool Totals(qp::StreamTotals& totals) const;
  // Control thread: appends the records delivered since the last call; returns how many
  // records the filter had already dropped before they could be read (the tool fell behind).
  uint64_t Poll();
  std::vector<qp::FrameTimes>& records() { return records_; }

 private:
  qp::IStreamStatistics* statistics_ = nullptr;
  uint64_t next_ = 0;
  uint64_t lost_ = 0;
  std::vector<qp::FrameTimes> records_;
};

}  // namespace qpcap
