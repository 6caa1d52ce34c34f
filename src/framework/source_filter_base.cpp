// The source filter's stream array.
#include "framework/source_filter_base.h"

#include <algorithm>
#include <new>

#include "framework/stream_pin_base.h"

namespace qp::framework {

SourceFilterBase::SourceFilterBase(IUnknown* outer, const CLSID& class_id)
    : FilterBase(outer, class_id, filter_lock_) {}

SourceFilterBase::~SourceFilterBase() {
  // A graph stops its filters before it lets them go; this covers a host that does not. The
  // streams' workers call back into their most-derived stream, which must still be whole.
  Stop();
  // Not under streams_lock_: the stream's destructor takes it to detach itself.
  while (StreamPinBase* last = LastStream()) delete last;
}

StreamPinBase* SourceFilterBase::LastStream() {
  ScopedLock hold(streams_lock_);
  return streams_.empty() ? nullptr : streams_.back();
}

int32_t SourceFilterBase::PinCount() {
  ScopedLock hold(streams_lock_);
  return static_cast<int32_t>(streams_.size());
}

PinBase* SourceFilterBase::PinAt(int32_t index) {
  ScopedLock hold(streams_lock_);
  if (index < 0 || index >= static_cast<int32_t>(streams_.size())) return nullptr;
  return streams_[index];
}

HRESULT SourceFilterBase::AttachStream(StreamPinBase* stream) {
  ScopedLock hold(streams_lock_);
  try {
    streams_.push_back(stream);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  PinSetChanged();
  return S_OK;
}

HRESULT SourceFilterBase::DetachStream(StreamPinBase* stream) {
  ScopedLock hold(streams_lock_);
  const auto found = std::find(streams_.begin(), streams_.end(), stream);
  if (found == streams_.end()) return S_FALSE;
  streams_.erase(found);
  PinSetChanged();
  return S_OK;
}

int32_t SourceFilterBase::IndexOfPin(const IPin* pin) {
  ScopedLock hold(streams_lock_);
  for (size_t index = 0; index < streams_.size(); ++index) {
    if (static_cast<const IPin*>(streams_[index]) == pin) return static_cast<int32_t>(index);
  }
  return -1;
}

}  // namespace qp::framework
