// The filter's pin enumerator.
#include "framework/pin_enumerator.h"

#include <vfwmsgs.h>

#include <algorithm>
#include <new>

#include "framework/pin_base.h"
#include "framework/pin_owner.h"

namespace qp::framework {

PinEnumerator::PinEnumerator(PinOwner* filter)
    : filter_reference_(filter->BaseFilter()), filter_(filter) {
  TakeSnapshot();
}

PinEnumerator::PinEnumerator(const PinEnumerator* source, bool& copied)
    : position_(source->position_),
      pin_count_(source->pin_count_),
      filter_reference_(source->filter_reference_),
      filter_(source->filter_),
      version_(source->version_) {
  copied = handed_out_.CopyFrom(source->handed_out_);
}

void PinEnumerator::TakeSnapshot() {
  version_ = filter_->PinSetVersion();
  pin_count_ = filter_->PinCount();
}

// IUnknown

HRESULT PinEnumerator::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IEnumPins || iid == IID_IUnknown) {
    *out = static_cast<IEnumPins*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG PinEnumerator::AddRef() { return InterlockedIncrement(&ref_count_); }

ULONG PinEnumerator::Release() {
  const LONG count = InterlockedDecrement(&ref_count_);
  if (count == 0) delete this;
  return count;
}

// IEnumPins

HRESULT PinEnumerator::Next(ULONG count, IPin** pins, ULONG* fetched) {
  if (!pins) return E_POINTER;
  if (fetched) {
    *fetched = 0;
  } else if (count > 1) {
    return E_INVALIDARG;
  }
  if (filter_->PinSetVersion() != version_) {
    TakeSnapshot();
    position_ = 0;
  }
  const ULONG wanted = std::min<ULONG>(count, std::max(pin_count_ - position_, 0));
  if (wanted == 0) return S_FALSE;

  ULONG done = 0;
  while (position_ < pin_count_ && done < wanted) {
    PinBase* pin = filter_->PinAt(position_++);
    if (!pin) {
      // The set shrank under us. Take back what this call handed out, so that a caller that
      // sees the failure has nothing to release.
      while (done > 0) {
        --done;
        pins[done]->Release();
        pins[done] = nullptr;
      }
      return VFW_E_ENUM_OUT_OF_SYNC;
    }
    if (handed_out_.Contains(pin)) continue;
    IPin* const pin_interface = pin;
    pin_interface->AddRef();
    pins[done++] = pin_interface;
  }
  // Listed only once the call succeeds, so that pins taken back above can be handed out again.
  for (ULONG i = 0; i < done; ++i) {
    handed_out_.AddTail(static_cast<PinBase*>(pins[i]));
  }
  if (fetched) *fetched = done;
  return done == count ? S_OK : S_FALSE;
}

HRESULT PinEnumerator::Skip(ULONG count) {
  if (filter_->PinSetVersion() != version_) return VFW_E_ENUM_OUT_OF_SYNC;
  const int64_t remaining = static_cast<int64_t>(pin_count_) - position_;
  if (remaining < static_cast<int64_t>(count)) return S_FALSE;
  position_ += static_cast<int32_t>(count);
  return S_OK;
}

HRESULT PinEnumerator::Reset() {
  TakeSnapshot();
  position_ = 0;
  handed_out_.RemoveAll();
  return S_OK;
}

HRESULT PinEnumerator::Clone(IEnumPins** clone) {
  if (!clone) return E_POINTER;
  *clone = nullptr;
  if (filter_->PinSetVersion() != version_) return VFW_E_ENUM_OUT_OF_SYNC;
  bool copied = false;
  auto* copy = new (std::nothrow) PinEnumerator(this, copied);
  if (!copy) return E_OUTOFMEMORY;
  if (!copied) {
    copy->Release();
    return E_OUTOFMEMORY;
  }
  *clone = copy;
  return S_OK;
}

}  // namespace qp::framework
