// IEnumMediaTypes over the types a pin offers, for the peer's and the pin's own type agreement.
#pragma once

#include <strmif.h>

#include <cstdint>

#include "platform/windows/com_ptr.h"

namespace qp::framework {

class PinBase;

// Keeps its pin (and so the pin's filter) alive through a counted IPin reference. The version
// snapshot detects a changed type list: every call except Reset then fails with
// VFW_E_ENUM_OUT_OF_SYNC. Not a ComObjectBase: it never blocks unloading on its own, since
// the filter it holds does. No lock of its own; one enumerator is used by one thread at a time,
// the reference count by any.
class MediaTypeEnumerator final : public IEnumMediaTypes {
 public:
  // Starts with one reference, owned by the caller.
  explicit MediaTypeEnumerator(PinBase* pin);
  MediaTypeEnumerator(const MediaTypeEnumerator&) = delete;
  MediaTypeEnumerator& operator=(const MediaTypeEnumerator&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IEnumMediaTypes. Next hands out records of task memory that the caller frees with their
  // format blocks.
  HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** clone) override;

 private:
  // A clone: same pin, position and snapshot.
  explicit MediaTypeEnumerator(const MediaTypeEnumerator* source);
  ~MediaTypeEnumerator() = default;

  bool InSync() const;

  int32_t position_ = 0;
  ComPtr<IPin> pin_reference_;  // counted on the pin's filter; keeps pin_ alive
  PinBase* const pin_;
  int32_t version_;
  LONG ref_count_ = 1;  // interlocked
};

}  // namespace qp::framework
