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
// Threads: the pin set is read by any thread (EnumPins, FindPin and QueryId may come from a
// downstream filter's streaming thread, which is our worker) under `streams_lock_`, a leaf lock.
// Streams attach while the filter is being built and detach while it is being destroyed; a
// stream's pointer stays valid for the filter's life.
class SourceFilterBase : public FilterBase {
 public:
  // PinOwner, any thread.
  int32_t PinCount() override;
  // Null outside [0, PinCount).
  PinBase* PinAt(int32_t index) override;

  // Stream constructor. E_OUTOFMEMORY leaves the set unchanged.
  HRESULT AttachStream(StreamPinBase* stream);
  // Stream destructor. S_FALSE when the stream is not attached.
  HRESULT DetachStream(StreamPinBase* stream);
  // The 0-based index of the stream whose IPin is `pin`, or -1. Any thread.
  int32_t IndexOfPin(const IPin* pin);

 protected:
  // `outer`: the controlling object when aggregated, or null.
  SourceFilterBase(IUnknown* outer, const CLSID& class_id);
  // Stops the filter (so every stream shuts down while it is still whole), then deletes the
  // streams, last first, which ends the threads they kept.
  ~SourceFilterBase() override;

 private:
  StreamPinBase* LastStream();

  CriticalSection filter_lock_;
  CriticalSection streams_lock_;         // leaf
  std::vector<StreamPinBase*> streams_;  // owned; streams_lock_
};

}  // namespace qp::framework
