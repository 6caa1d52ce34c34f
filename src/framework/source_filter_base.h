// A source filter: the filter base plus the stream pins it owns and the FilterLock.
#pragma once

#include <strmif.h>

#include <cstdint>
#include <vector>

#include "framework/critical_section.h"
#include "framework/filter_base.h"

namespace qp::framework {

class StreamPinBase;

// Owns its streams: a stream attaches itself from its constructor and detaches from its
// destructor, and the filter's destructor deletes those that remain.
//
// Threads: the pin set is read by control threads under the FilterLock. Streams attach while
// the filter is being built and detach while it is being destroyed, when no other thread can
// reach it.
class SourceFilterBase : public FilterBase {
 public:
  // PinOwner, FilterLock taken.
  int32_t PinCount() override;
  // Null outside [0, PinCount).
  PinBase* PinAt(int32_t index) override;

  // Stream constructor, FilterLock taken. E_OUTOFMEMORY leaves the set unchanged.
  HRESULT AttachStream(StreamPinBase* stream);
  // Stream destructor, no lock. S_FALSE when the stream is not attached.
  HRESULT DetachStream(StreamPinBase* stream);
  // The 0-based index of the stream whose IPin is `pin`, or -1. FilterLock taken.
  int32_t IndexOfPin(const IPin* pin);

 protected:
  // `outer`: the controlling object when aggregated, or null.
  SourceFilterBase(IUnknown* outer, const CLSID& class_id);
  // Stops the filter (so every worker thread ends while its stream is still whole), then
  // deletes the streams, last first.
  ~SourceFilterBase() override;

 private:
  CriticalSection filter_lock_;
  std::vector<StreamPinBase*> streams_;  // owned; FilterLock (see the class comment)
};

}  // namespace qp::framework
