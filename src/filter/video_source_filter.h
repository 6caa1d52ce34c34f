// The filter this module serves: a live source with one VideoStreamPin and an about page.
#pragma once

#include <strmif.h>
#include <ocidl.h>

#include "interface/stream_statistics.h"
#include "framework/source_filter_base.h"

namespace qp::stream {
class StreamEnvironment;
class VideoStreamPin;
}  // namespace qp::stream

namespace qp::filter {

// Threads: as SourceFilterBase. GetState reads the state without a lock; GetPages touches no
// shared data.
class VideoSourceFilter final : public framework::SourceFilterBase,
                                public ISpecifyPropertyPages,
                                public IStreamStatistics {
 public:
  explicit VideoSourceFilter(IUnknown* outer);

  QP_IUNKNOWN_FORWARDED_TO_OWNER

  // IMediaFilter: VFW_S_CANT_CUE while paused, as a live source delivers nothing then.
  HRESULT STDMETHODCALLTYPE GetState(DWORD timeout_ms, FILTER_STATE* state) override;

  // ISpecifyPropertyPages: the about page; the caller frees pElems.
  HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override;

  // IStreamStatistics: the pin's worker figures. E_UNEXPECTED while the filter has no pin.
  HRESULT STDMETHODCALLTYPE GetTotals(StreamTotals* totals) override;
  HRESULT STDMETHODCALLTYPE GetFrames(uint64_t first, uint32_t capacity, FrameTimes* records,
                                      uint32_t* count, uint64_t* from) override;

  // While the filter is being built, FilterLock held: the pin that answers IStreamStatistics.
  void SetStatisticsPin(stream::VideoStreamPin* pin) { statistics_pin_ = pin; }

 protected:
  HRESULT InnerQueryInterface(REFIID iid, void** out) override;

 private:
  // Owned by the filter as its pin; set once before the filter is handed out.
  stream::VideoStreamPin* statistics_pin_ = nullptr;
};

// The class table's create function: the filter's non-delegating IUnknown, or null with
// E_OUTOFMEMORY in *result. A filter whose pin failed is returned with the failure in
// *result, for the class factory to destroy; without `result` it is destroyed here and null
// returned. No exception leaves it.
IUnknown* CreateVideoSourceFilter(IUnknown* outer, HRESULT* result);
// The same with the pin's configuration and clocks taken from `environment` (tests).
IUnknown* CreateVideoSourceFilter(IUnknown* outer, HRESULT* result,
                                  stream::StreamEnvironment& environment);

}  // namespace qp::filter
