// The filter object: its pin, its property page and its live-source state answer.
#include "filter/video_source_filter.h"

#include <new>

#include "filter/class_ids.h"
#include "filter/module_classes.h"
#include "stream/video_stream_pin.h"

namespace qp::filter {

VideoSourceFilter::VideoSourceFilter(IUnknown* outer)
    : SourceFilterBase(outer, kVideoSourceFilterClassId) {}

HRESULT VideoSourceFilter::InnerQueryInterface(REFIID iid, void** out) {
  if (iid == IID_ISpecifyPropertyPages) {
    return HandOut(static_cast<ISpecifyPropertyPages*>(this), out);
  }
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

IUnknown* CreateVideoSourceFilter(IUnknown* outer, HRESULT* result) {
  auto* filter = new (std::nothrow) VideoSourceFilter(outer);
  if (!filter) {
    if (result) *result = E_OUTOFMEMORY;
    return nullptr;
  }
  framework::ScopedLock hold(filter->FilterLock());
  // The pin attaches itself to the filter, which owns and deletes it from then on; one that
  // could not attach belongs to no one.
  auto* pin = new (std::nothrow) stream::VideoStreamPin(result, filter, kFilterName);
  if (!pin) {
    if (result) *result = E_OUTOFMEMORY;
  } else if (filter->PinCount() == 0) {
    delete pin;
  }
  return filter->Inner();
}

}  // namespace qp::filter
