// The pin's type enumerator.
#include "framework/media_type_enumerator.h"

#include <vfwmsgs.h>

#include <algorithm>
#include <limits>
#include <new>

#include "framework/media_type.h"
#include "framework/pin_base.h"

namespace qp::framework {
namespace {

// Positions stay within int32: a Skip of a huge count parks the position at the end of the
// range instead of wrapping to a valid index.
int32_t Advance(int32_t position, ULONG count) {
  const int64_t next = static_cast<int64_t>(position) + count;
  return static_cast<int32_t>(std::min<int64_t>(next, std::numeric_limits<int32_t>::max()));
}

}  // namespace

MediaTypeEnumerator::MediaTypeEnumerator(PinBase* pin)
    : pin_reference_(static_cast<IPin*>(pin)), pin_(pin), version_(pin->TypeVersion()) {}

MediaTypeEnumerator::MediaTypeEnumerator(const MediaTypeEnumerator* source)
    : position_(source->position_),
      pin_reference_(source->pin_reference_),
      pin_(source->pin_),
      version_(source->version_) {}

bool MediaTypeEnumerator::InSync() const { return pin_->TypeVersion() == version_; }

// IUnknown

HRESULT MediaTypeEnumerator::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IEnumMediaTypes || iid == IID_IUnknown) {
    *out = static_cast<IEnumMediaTypes*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG MediaTypeEnumerator::AddRef() { return InterlockedIncrement(&ref_count_); }

ULONG MediaTypeEnumerator::Release() {
  const LONG count = InterlockedDecrement(&ref_count_);
  if (count == 0) delete this;
  return count;
}

// IEnumMediaTypes

HRESULT MediaTypeEnumerator::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
  if (!types) return E_POINTER;
  if (!InSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  if (fetched) {
    *fetched = 0;
  } else if (count > 1) {
    return E_INVALIDARG;
  }
  ULONG done = 0;
  while (done < count) {
    MediaType type;
    const HRESULT hr = pin_->GetOfferedType(position_, &type);
    position_ = Advance(position_, 1);
    if (hr != S_OK) break;
    auto* record = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    types[done] = record;
    if (!record) break;
    type.TransferTo(*record);
    ++done;
  }
  if (fetched) *fetched = done;
  return done == count ? S_OK : S_FALSE;
}

HRESULT MediaTypeEnumerator::Skip(ULONG count) {
  if (count == 0) return S_OK;
  if (!InSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  position_ = Advance(position_, count);
  MediaType last;
  return pin_->GetOfferedType(position_ - 1, &last) == S_OK ? S_OK : S_FALSE;
}

HRESULT MediaTypeEnumerator::Reset() {
  position_ = 0;
  version_ = pin_->TypeVersion();
  return S_OK;
}

HRESULT MediaTypeEnumerator::Clone(IEnumMediaTypes** clone) {
  if (!clone) return E_POINTER;
  *clone = nullptr;
  if (!InSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  auto* copy = new (std::nothrow) MediaTypeEnumerator(this);
  if (!copy) return E_OUTOFMEMORY;
  *clone = copy;
  return S_OK;
}

}  // namespace qp::framework
