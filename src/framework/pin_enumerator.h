// IEnumPins over the pins of a filter.
#pragma once

#include <strmif.h>

#include <cstdint>

#include "platform/windows/com_ptr.h"
#include "framework/pointer_list.h"

namespace qp::framework {

class PinBase;
class PinOwner;

// Keeps its filter alive through a counted IBaseFilter reference. When the filter's pin set
// changes, Next starts over from the first pin but skips the pins it has already handed out
// since the last Reset; Skip and Clone fail with VFW_E_ENUM_OUT_OF_SYNC instead. No lock of its
// own (PinCount and PinAt take the FilterLock); one enumerator is used by one thread at a time,
// the reference count by any.
class PinEnumerator final : public IEnumPins {
 public:
  // Starts with one reference, owned by the caller.
  explicit PinEnumerator(PinOwner* filter);
  PinEnumerator(const PinEnumerator&) = delete;
  PinEnumerator& operator=(const PinEnumerator&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IEnumPins
  HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IEnumPins** clone) override;

 private:
  PinEnumerator(const PinEnumerator* source, bool& copied);
  ~PinEnumerator() = default;

  void TakeSnapshot();

  int32_t position_ = 0;
  int32_t pin_count_ = 0;
  ComPtr<IBaseFilter> filter_reference_;  // counted; keeps filter_ alive
  PinOwner* const filter_;
  int32_t version_ = 0;
  LONG ref_count_ = 1;               // interlocked
  PointerList<PinBase> handed_out_;  // uncounted: the filter owns the pins
};

}  // namespace qp::framework
