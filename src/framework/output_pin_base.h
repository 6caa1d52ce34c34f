// An output pin: the pin base plus the allocator agreed with the downstream IMemInputPin and
// the operations that push samples and stream notifications downstream.
#pragma once

#include <strmif.h>

#include "platform/windows/com_ptr.h"
#include "framework/pin_base.h"

namespace qp::framework {

// Connection, allocator choice and Activate/Deactivate run on control threads under the
// FilterLock. The deliver operations and GetFreeSample run on the worker thread without any
// framework lock; they read allocator_ and input_ unlocked, which holds because both change
// only while the filter is stopped (Disconnect refuses otherwise) and the worker streams only
// while it is not: a stopped filter's kept worker waits in its mailbox and reads neither.
class OutputPinBase : public PinBase {
 public:
  OutputPinBase(PinOwner* owner, const wchar_t* name);

  // Commit and decommit the agreed allocator; VFW_E_NO_ALLOCATOR without one.
  HRESULT Activate() override;
  HRESULT Deactivate() override;

  // Hook, control thread, FilterLock held: give `allocator` buffers that satisfy the
  // downstream `request` (IMemAllocator::SetProperties). S_OK when it took them.
  virtual HRESULT SizeBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;

  // Worker thread. An empty sample from the agreed allocator; E_NOINTERFACE without one.
  HRESULT GetFreeSample(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end,
                        DWORD flags);
  // Worker or control thread; VFW_E_NOT_CONNECTED while unconnected.
  HRESULT DeliverSample(IMediaSample* sample);
  HRESULT DeliverEnd();
  HRESULT DeliverFlushStart();
  HRESULT DeliverFlushEnd();
  HRESULT DeliverSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

 protected:
  // Also requires the peer's IMemInputPin, which is kept while connected.
  HRESULT CheckPeer(IPin* peer) override;
  // Decommits and drops the allocator (a failed decommit keeps everything), then the
  // downstream input.
  HRESULT BreakPeer() override;
  HRESULT CompletePeer(IPin* peer) override;

  // The downstream pin's allocator when it has one that takes our sizing and is notified;
  // else one of our own. On failure `allocator` is empty.
  virtual HRESULT ChooseAllocator(IMemInputPin* input, ComPtr<IMemAllocator>& allocator);
  // The platform's standard memory allocator.
  virtual HRESULT CreateOwnAllocator(IMemAllocator** allocator);

 private:
  HRESULT OfferAllocator(IMemInputPin* input, IMemAllocator* allocator,
                         ALLOCATOR_PROPERTIES* request);

  ComPtr<IMemAllocator> allocator_;  // FilterLock for changes; see the class comment
  ComPtr<IMemInputPin> input_;       // FilterLock for changes; see the class comment
};

}  // namespace qp::framework
