// The scripted downstream pin.
#include "support/fake_downstream_pin.h"

#include <uuids.h>
#include <vfwmsgs.h>

namespace qp::framework::testing {

HRESULT FakeTypeList::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
  ULONG done = 0;
  while (done < count && position_ < types_.size()) {
    auto* record = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!record) break;
    CopyType(*record, *types_[position_++]);
    types[done++] = record;
  }
  if (fetched) *fetched = done;
  return done == count ? S_OK : S_FALSE;
}

FakeDownstreamPin::FakeDownstreamPin() {
  CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                   reinterpret_cast<void**>(&offered_allocator));
}

HRESULT FakeDownstreamPin::ReceiveConnection(IPin* pin, const AM_MEDIA_TYPE* type) {
  ++connections;
  if (during_connection) during_connection();
  if (!accepts_types) return refusal;
  if (holds_connector) connector = ComPtr<IPin>(pin);
  connection_type.Assign(*type);
  return S_OK;
}

HRESULT FakeDownstreamPin::Disconnect() {
  ++disconnects;
  connector.Reset();
  notified.Reset();
  return S_OK;
}

HRESULT FakeDownstreamPin::EnumMediaTypes(IEnumMediaTypes** types) {
  ++enumerations;
  *types = new FakeTypeList(offered);
  return S_OK;
}

HRESULT FakeDownstreamPin::GetAllocator(IMemAllocator** allocator) {
  if (!offers_allocator || !offered_allocator) return VFW_E_NO_ALLOCATOR;
  *allocator = offered_allocator.Get();
  (*allocator)->AddRef();
  return S_OK;
}

HRESULT FakeDownstreamPin::NotifyAllocator(IMemAllocator* allocator, BOOL /*read_only*/) {
  if (notify == AllocatorAnswer::RefuseAll) return E_FAIL;
  if (notify == AllocatorAnswer::RefuseOffered && allocator == offered_allocator.Get()) {
    return E_FAIL;
  }
  notified = ComPtr<IMemAllocator>(allocator);
  return S_OK;
}

HRESULT FakeDownstreamPin::Receive(IMediaSample*) {
  ++receives;
  if (ends > 0) ++samples_after_end;
  if (on_receive) on_receive();
  return receive_result;
}

}  // namespace qp::framework::testing
