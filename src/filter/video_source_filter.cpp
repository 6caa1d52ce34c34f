// The filter object: its pin, its property page and its live-source state answer.
#include "filter/video_source_filter.h"

#include <new>

#include "filter/class_ids.h"
#include "filter/module_classes.h"
#include "stream/stream_environment.h"
#include "stream/video_stream_pin.h"

namespace qp::filter {

VideoSourceFilter::VideoSourceFilter(IUnknown* outer)
    : SourceFilterBase(outer, kVideoSourceFilterClassId) {}

HRESULT VideoSourceFilter::InnerQueryInterface(REFIID iid, void** out) {
  if (iid == IID_ISpecifyPropertyPages) {
    return HandOut(static_cast<ISpecifyPropertyPages*>(this), out);
  }
  if (iid == kStreamStatisticsId) return HandOut(static_cast<IStreamStatistics*>(this), out);
  return SourceFilterBase::InnerQueryInterface(iid, out);
}

HRESULT VideoSourceFilter::GetState(DWORD timeout_ms, FILTER_STATE* state) {
  const HRESULT hr = SourceFilterBase::GetState(timeout_ms, state);
  if (FAILED(hr)) return hr;
  return *state == State_Paused ? VFW_S_CANT_CUE : S_OK;
}

HRESULT VideoSourceFilter::GetPages(CAUUID* pages) {
  if (!pages) return E_POINTER;
  pages->cElems = 1;
  pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
  if (!pages->pElems) {
    pages->cElems = 0;
    return E_OUTOFMEMORY;
  }
  pages->pElems[0] = kAboutPageClassId;
  return S_OK;
}

HRESULT VideoSourceFilter::GetTotals(StreamTotals* totals) {
  if (!totals) return E_POINTER;
  if (!statistics_pin_) return E_UNEXPECTED;
  statistics_pin_->ReadTotals(*totals);
  return S_OK;
}

HRESULT VideoSourceFilter::GetFrames(uint64_t first, uint32_t capacity, FrameTimes* records,
                                     uint32_t* count, uint64_t* from) {
  if (!records || !count || !from) return E_POINTER;
  *count = 0;
  *from = first;
  if (!statistics_pin_) return E_UNEXPECTED;
  *count = statistics_pin_->ReadFrames(first, records, capacity, from);
  return S_OK;
}

IUnknown* CreateVideoSourceFilter(IUnknown* outer, HRESULT* result) {
  return CreateVideoSourceFilter(outer, result, stream::SystemStreamEnvironment());
}

IUnknown* CreateVideoSourceFilter(IUnknown* outer, HRESULT* result,
                                  stream::StreamEnvironment& environment) {
  auto* filter = new (std::nothrow) VideoSourceFilter(outer);
  if (!filter) {
    if (result) *result = E_OUTOFMEMORY;
    return nullptr;
  }
  HRESULT made = S_OK;
  {
    framework::ScopedLock hold(filter->FilterLock());
    // The pin attaches itself to the filter, which owns and deletes it from then on; one that
    // could not attach belongs to no one. A pin whose construction throws has detached itself
    // again on the way out.
    try {
      auto* pin =
          new (std::nothrow) stream::VideoStreamPin(&made, filter, kFilterName, environment);
      if (!pin) {
        made = E_OUTOFMEMORY;
      } else if (filter->PinCount() == 0) {
        delete pin;
        if (SUCCEEDED(made)) made = E_OUTOFMEMORY;
      } else {
        filter->SetStatisticsPin(pin);
      }
    } catch (const std::bad_alloc&) {
      made = E_OUTOFMEMORY;
    } catch (...) {
      made = E_UNEXPECTED;
    }
  }
  if (FAILED(made)) {
    if (result) {
      // The class factory destroys a filter returned with a failure.
      *result = made;
      return filter->Inner();
    }
    // No one to tell: destroy it here, through its count, as the factory would.
    IUnknown* inner = filter->Inner();
    inner->AddRef();
    inner->Release();
    return nullptr;
  }
  return filter->Inner();
}

}  // namespace qp::filter
