// The first pin of a filter in a given direction, for tests that wire graphs by hand.
#pragma once

#include <strmif.h>

#include "platform/windows/com_ptr.h"

namespace qp::test {

// Null when the filter has no such pin or cannot enumerate them.
inline framework::ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION wanted) {
  framework::ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(&pins))) return {};
  framework::ComPtr<IPin> pin;
  while (pins->Next(1, &pin, nullptr) == S_OK) {
    PIN_DIRECTION direction;
    if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == wanted) return pin;
  }
  return {};
}

}  // namespace qp::test
