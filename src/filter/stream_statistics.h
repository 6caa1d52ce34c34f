// The filter's private statistics interface: what its worker thread spent on each frame and
// what the last start-up cost. For the project's own tools (qpcap); not registered, not
// marshalled, asked of the filter in the same process.
#pragma once

#include <unknwn.h>

#include <cstdint>

#include "stream/worker_counters.h"

namespace qp::filter {

// A new identity whenever the records' layout changes, so that a tool of another build finds
// no interface rather than misreads one.
// {5B0D3C2E-8A41-4F6B-9C7E-2D61A4F08E13}
inline constexpr GUID kStreamStatisticsId = {
    0x5b0d3c2e, 0x8a41, 0x4f6b, {0x9c, 0x7e, 0x2d, 0x61, 0xa4, 0xf0, 0x8e, 0x13}};

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
