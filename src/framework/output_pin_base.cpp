// The output pin's allocator negotiation and downstream delivery.
#include "framework/output_pin_base.h"

#include <uuids.h>

namespace qp::framework {

OutputPinBase::OutputPinBase(PinOwner* owner, const wchar_t* name)
    : PinBase(owner, name, PINDIR_OUTPUT) {}

HRESULT OutputPinBase::Activate() {
  if (!allocator_) return VFW_E_NO_ALLOCATOR;
  return allocator_->Commit();
}

HRESULT OutputPinBase::Deactivate() {
  ClearRuntimeError();
  if (!allocator_) return VFW_E_NO_ALLOCATOR;
  return allocator_->Decommit();
}

HRESULT OutputPinBase::CheckPeer(IPin* peer) {
  const HRESULT hr = PinBase::CheckPeer(peer);
  if (FAILED(hr)) return hr;
  return peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input_));
}

HRESULT OutputPinBase::BreakPeer() {
  if (allocator_) {
    const HRESULT hr = allocator_->Decommit();
    if (FAILED(hr)) return hr;
    allocator_.Reset();
  }
  input_.Reset();
  return S_OK;
}

HRESULT OutputPinBase::CompletePeer(IPin* /*peer*/) {
  return ChooseAllocator(input_.Get(), allocator_);
}

HRESULT OutputPinBase::ChooseAllocator(IMemInputPin* input, ComPtr<IMemAllocator>& allocator) {
  allocator.Reset();
  ALLOCATOR_PROPERTIES request = {};
  input->GetAllocatorRequirements(&request);  // optional for the peer: its answer is the request
  if (request.cbAlign == 0) request.cbAlign = 1;

  HRESULT hr = input->GetAllocator(&allocator);
  if (SUCCEEDED(hr) && allocator) {
    hr = OfferAllocator(input, allocator.Get(), &request);
    if (SUCCEEDED(hr)) return S_OK;
  }
  allocator.Reset();
  hr = CreateOwnAllocator(&allocator);
  if (SUCCEEDED(hr) && !allocator) hr = E_UNEXPECTED;
  if (SUCCEEDED(hr)) hr = OfferAllocator(input, allocator.Get(), &request);
  if (SUCCEEDED(hr)) return S_OK;
  allocator.Reset();
  return hr;
}

HRESULT OutputPinBase::OfferAllocator(IMemInputPin* input, IMemAllocator* allocator,
                                      ALLOCATOR_PROPERTIES* request) {
  const HRESULT hr = SizeBuffers(allocator, request);
  if (FAILED(hr)) return hr;
  return input->NotifyAllocator(allocator, FALSE);
}

HRESULT OutputPinBase::CreateOwnAllocator(IMemAllocator** allocator) {
  return CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                          reinterpret_cast<void**>(allocator));
}

HRESULT OutputPinBase::GetFreeSample(IMediaSample** sample, REFERENCE_TIME* start,
                                     REFERENCE_TIME* end, DWORD flags) {
  if (!allocator_) return E_NOINTERFACE;
  return allocator_->GetBuffer(sample, start, end, flags);
}

HRESULT OutputPinBase::DeliverSample(IMediaSample* sample) {
  if (!input_) return VFW_E_NOT_CONNECTED;
  return input_->Receive(sample);
}

HRESULT OutputPinBase::DeliverEnd() {
  IPin* peer = ConnectedPin();
  return peer ? peer->EndOfStream() : VFW_E_NOT_CONNECTED;
}

HRESULT OutputPinBase::DeliverFlushStart() {
  IPin* peer = ConnectedPin();
  return peer ? peer->BeginFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT OutputPinBase::DeliverFlushEnd() {
  IPin* peer = ConnectedPin();
  return peer ? peer->EndFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT OutputPinBase::DeliverSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  IPin* peer = ConnectedPin();
  return peer ? peer->NewSegment(start, stop, rate) : VFW_E_NOT_CONNECTED;
}

}  // namespace qp::framework
