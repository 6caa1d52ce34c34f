// The pin's connection and type agreement.
#include "framework/pin_base.h"

#include <algorithm>
#include <new>
#include <utility>

#include "framework/media_type_enumerator.h"
#include "framework/pin_owner.h"

namespace qp::framework {
namespace {

// Answers that mean "not this type": the agreement goes on with the next one and does not
// report them as the reason it failed.
bool IsTypeRefusal(HRESULT hr) {
  return hr == E_FAIL || hr == E_INVALIDARG || hr == VFW_E_TYPE_NOT_ACCEPTED;
}

// CheckType accepts with S_OK only; its other answers become what a peer expects.
HRESULT AsTypeAnswer(HRESULT hr) {
  if (hr == S_OK) return S_OK;
  return SUCCEEDED(hr) || IsTypeRefusal(hr) ? VFW_E_TYPE_NOT_ACCEPTED : hr;
}

// Takes over an IEnumMediaTypes::Next record of task memory: its format block and pUnk
// reference move into `type`, and the record itself is freed.
void TakeRecord(AM_MEDIA_TYPE* record, MediaType& type) {
  static_cast<AM_MEDIA_TYPE&>(type) = *record;
  CoTaskMemFree(record);
}

}  // namespace

PinBase::PinBase(PinOwner* owner, const wchar_t* name, PIN_DIRECTION direction)
    : ComObjectBase(nullptr),
      name_(name ? name : L""),
      direction_(direction),
      lock_(owner->FilterLock()),
      owner_(owner) {}

PinBase::~PinBase() = default;

HRESULT PinBase::InnerQueryInterface(REFIID iid, void** out) {
  if (iid == IID_IPin) return HandOut(static_cast<IPin*>(this), out);
  if (iid == IID_IQualityControl) return HandOut(static_cast<IQualityControl*>(this), out);
  return ComObjectBase::InnerQueryInterface(iid, out);
}

ULONG PinBase::InnerAddRef() { return owner_->BaseFilter()->AddRef(); }

ULONG PinBase::InnerRelease() { return owner_->BaseFilter()->Release(); }

// IPin

HRESULT PinBase::Connect(IPin* receive_pin, const AM_MEDIA_TYPE* type) {
  if (!receive_pin) return E_POINTER;
  ScopedLock hold(lock_);
  if (connected_) return VFW_E_ALREADY_CONNECTED;
  if (!can_reconnect_when_active_ && owner_->IsStarted()) return VFW_E_NOT_STOPPED;

  MediaType given;
  if (type) {
    const HRESULT hr = given.Assign(*type);
    if (FAILED(hr)) return hr;
  }
  const HRESULT hr = AgreeType(receive_pin, type ? &given : nullptr);
  if (FAILED(hr)) {
    BreakPeer();
    return hr;
  }
  return S_OK;
}

HRESULT PinBase::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
  if (!connector || !type) return E_POINTER;
  ScopedLock hold(lock_);
  if (connected_) return VFW_E_ALREADY_CONNECTED;
  if (!can_reconnect_when_active_ && owner_->IsStarted()) return VFW_E_NOT_STOPPED;

  HRESULT hr = CheckPeer(connector);
  if (FAILED(hr)) {
    BreakPeer();
    return hr;
  }
  MediaType proposed;
  hr = proposed.Assign(*type);
  if (SUCCEEDED(hr)) hr = AsTypeAnswer(CheckType(&proposed));
  if (SUCCEEDED(hr)) hr = SetType(&proposed);
  if (SUCCEEDED(hr)) hr = CompletePeer(connector);
  if (SUCCEEDED(hr)) hr = PublishPeer(connector);
  if (FAILED(hr)) {
    BreakPeer();
    return hr;
  }
  return S_OK;
}

HRESULT PinBase::Disconnect() {
  ScopedLock hold(lock_);
  if (owner_->IsStarted()) return VFW_E_NOT_STOPPED;
  return DropConnection();
}

HRESULT PinBase::ConnectedTo(IPin** pin) {
  if (!pin) return E_POINTER;
  ComPtr<IPin> peer;
  {
    ScopedLock hold(connection_lock_);
    peer = connected_;
  }
  *pin = peer.Detach();
  return *pin ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT PinBase::ConnectionMediaType(AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  ScopedLock hold(connection_lock_);
  if (!connected_) {
    ResetType(*type);
    return VFW_E_NOT_CONNECTED;
  }
  // A copy without its format block is not the connection type: report the failure and leave
  // the caller nothing to free (CopyType took a pUnk reference even so).
  if (FAILED(CopyType(*type, connection_type_))) {
    FreeFormat(*type);
    ResetType(*type);
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT PinBase::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->pFilter = owner_->BaseFilter();
  if (info->pFilter) info->pFilter->AddRef();
  const size_t length = std::min(name_.size(), std::size(info->achName) - 1);
  std::copy_n(name_.data(), length, info->achName);
  info->achName[length] = L'\0';
  info->dir = direction_;
  return S_OK;
}

HRESULT PinBase::QueryDirection(PIN_DIRECTION* direction) {
  if (!direction) return E_POINTER;
  *direction = direction_;
  return S_OK;
}

HRESULT PinBase::QueryAccept(const AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  MediaType proposed;
  if (FAILED(proposed.Assign(*type))) return S_FALSE;
  const HRESULT hr = CheckType(&proposed);
  return FAILED(hr) ? S_FALSE : hr;
}

HRESULT PinBase::EnumMediaTypes(IEnumMediaTypes** enumerator) {
  if (!enumerator) return E_POINTER;
  *enumerator = new (std::nothrow) MediaTypeEnumerator(this);
  return *enumerator ? S_OK : E_OUTOFMEMORY;
}

HRESULT PinBase::QueryInternalConnections(IPin** /*pins*/, ULONG* /*count*/) { return E_NOTIMPL; }

HRESULT PinBase::EndOfStream() { return E_UNEXPECTED; }

HRESULT PinBase::BeginFlush() { return E_UNEXPECTED; }

HRESULT PinBase::EndFlush() { return E_UNEXPECTED; }

HRESULT PinBase::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  segment_start_ = start;
  segment_stop_ = stop;
  segment_rate_ = rate;
  return S_OK;
}

// IQualityControl

HRESULT PinBase::Notify(IBaseFilter* /*sender*/, Quality /*quality*/) { return E_NOTIMPL; }

HRESULT PinBase::SetSink(IQualityControl* sink) {
  quality_sink_.store(sink);
  return S_OK;
}

bool PinBase::IsConnected() const {
  ScopedLock hold(connection_lock_);
  return static_cast<bool>(connected_);
}

// Hooks

HRESULT PinBase::SetType(const MediaType* type) {
  ScopedLock hold(connection_lock_);
  return FAILED(connection_type_.Assign(*type)) ? E_OUTOFMEMORY : S_OK;
}

HRESULT PinBase::CheckPeer(IPin* peer) {
  PIN_DIRECTION peer_direction;
  const HRESULT hr = peer->QueryDirection(&peer_direction);
  if (FAILED(hr)) return hr;
  return peer_direction == direction_ ? VFW_E_INVALID_DIRECTION : S_OK;
}

// Agreement

HRESULT PinBase::AgreeType(IPin* receive_pin, const MediaType* partial) {
  if (partial && !partial->IsPartial()) return AttemptConnect(receive_pin, *partial);

  HRESULT failure = VFW_E_NO_ACCEPTABLE_TYPES;
  for (int pass = 0; pass < 2; ++pass) {
    const bool own_types = (pass == 0) == try_own_types_first_;
    ComPtr<IEnumMediaTypes> types;
    const HRESULT listed = own_types ? EnumMediaTypes(&types) : receive_pin->EnumMediaTypes(&types);
    if (FAILED(listed) || !types) continue;
    const HRESULT hr = TryTypes(receive_pin, partial, types.Get());
    if (SUCCEEDED(hr)) return S_OK;
    if (!IsTypeRefusal(hr)) failure = hr;
  }
  return failure;
}

HRESULT PinBase::TryTypes(IPin* receive_pin, const MediaType* partial, IEnumMediaTypes* types) {
  HRESULT hr = types->Reset();
  if (FAILED(hr)) return hr;

  HRESULT remembered = S_OK;
  for (bool first = true;; first = false) {
    AM_MEDIA_TYPE* record = nullptr;
    ULONG fetched = 0;
    if (types->Next(1, &record, &fetched) != S_OK || !record) {
      if (first) return VFW_E_NO_ACCEPTABLE_TYPES;
      break;
    }
    MediaType type;
    TakeRecord(record, type);
    hr = !partial || MatchesPartially(type, *partial) ? AttemptConnect(receive_pin, type)
                                                      : VFW_E_NO_ACCEPTABLE_TYPES;
    // Any success means the pin is now connected: searching on would connect it twice.
    if (SUCCEEDED(hr)) return S_OK;
    if (remembered == S_OK && !IsTypeRefusal(hr)) remembered = hr;
  }
  return remembered != S_OK ? remembered : VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT PinBase::AttemptConnect(IPin* receive_pin, const MediaType& type) {
  HRESULT hr = CheckPeer(receive_pin);
  if (FAILED(hr)) {
    BreakPeer();
    return hr;
  }
  // The type is recorded first for the hooks (SizeBuffers reads it); nothing shows it until
  // the peer is published with it, after both sides agreed.
  hr = AsTypeAnswer(CheckType(&type));
  if (SUCCEEDED(hr)) hr = SetType(&type);
  if (SUCCEEDED(hr)) {
    hr = receive_pin->ReceiveConnection(static_cast<IPin*>(this), &type);
    if (SUCCEEDED(hr)) {
      hr = CompletePeer(receive_pin);
      if (SUCCEEDED(hr)) hr = PublishPeer(receive_pin);
      if (SUCCEEDED(hr)) return hr;
      receive_pin->Disconnect();
    }
  }
  BreakPeer();
  return hr;
}

HRESULT PinBase::DropConnection() {
  if (!connected_) return S_FALSE;
  const HRESULT hr = BreakPeer();
  if (FAILED(hr)) return hr;
  SetPeer(nullptr);
  return S_OK;
}

HRESULT PinBase::PublishPeer(IPin* peer) {
  SetPeer(peer);
  return S_OK;
}

void PinBase::SetPeer(IPin* peer) {
  ComPtr<IPin> replaced(peer);
  ScopedLock hold(connection_lock_);
  std::swap(connected_, replaced);
}

}  // namespace qp::framework
