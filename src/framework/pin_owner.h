// What a pin and the pin enumerator need of the filter that owns the pins.
#pragma once

#include <strmif.h>

#include <cstdint>

#include "framework/critical_section.h"

namespace qp::framework {

class PinBase;

// Implemented by the owning filter. A pin keeps an uncounted pointer to its owner: the filter
// owns and deletes its pins, so it outlives every call into them.
class PinOwner {
 public:
  // The filter's IBaseFilter, not counted. Pins forward their AddRef and Release to it, and
  // QueryPinInfo and the pin enumerator take their references through it.
  virtual IBaseFilter* BaseFilter() = 0;

  // The filter's one recursive lock; every connection operation of a pin takes it.
  virtual CriticalSection& FilterLock() = 0;

  // True while the filter is paused or running. Any thread, no lock.
  virtual bool IsStarted() = 0;

  // The pin set, read by the pin enumerator on any thread: PinCount and PinAt must not take
  // the FilterLock (a downstream filter may enumerate from our worker thread). PinAt
  // answers null for an index outside [0, PinCount). PinSetVersion changes whenever the set
  // does, so an enumerator can tell that its snapshot is stale.
  virtual int32_t PinCount() = 0;
  virtual PinBase* PinAt(int32_t index) = 0;
  virtual int32_t PinSetVersion() = 0;

 protected:
  ~PinOwner() = default;
};

}  // namespace qp::framework
