// The filter's private statistics interface: what its worker thread spent on each frame and
// what the last start-up cost. For the project's own tools (qpcap); not registered, not
// marshalled, asked of the filter in the same process.
#pragma once

#include <unknwn.h>

#include <cstdint>

#include "stream/worker_counters.h"

namespace qp::filter {

// {78EE7EC5-F434-41BB-9EFF-80CA2484B95B}
inline constexpr GUID kStreamStatisticsId = {
    0x78ee7ec5, 0xf434, 0x41bb, {0x9e, 0xff, 0x80, 0xca, 0x24, 0x84, 0xb9, 0x5b}};

// Any thread, the streaming thread included; no call waits for the filter's lock.
struct IStreamStatistics : public IUnknown {
  // Totals since the current (or last) stream started. E_POINTER without `totals`.
  virtual HRESULT STDMETHODCALLTYPE GetTotals(stream::StreamTotals* totals) = 0;
  // Frame records by delivery index since the stream started, from `first` on (from the
  // oldest kept when `first` is gone); *from gets records[0]'s index and *count how many were
  // copied (0 when none is newer). E_POINTER without records, count or from.
  virtual HRESULT STDMETHODCALLTYPE GetFrames(uint64_t first, uint32_t capacity,
                                              stream::FrameTimes* records, uint32_t* count,
                                              uint64_t* from) = 0;

 protected:
  ~IStreamStatistics() = default;
};

}  // namespace qp::filter
