// A downstream input pin with scripted answers, for the peer behaviours the platform's own
// pins do not show on demand (an empty type list, refusing every type, refusing an allocator,
// refusing samples), counting what it is sent.
#pragma once

#include <strmif.h>
#include <vfwmsgs.h>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "platform/windows/com_ptr.h"
#include "support/fake_com.h"
#include "framework/media_type.h"

namespace qp::framework::testing {

// IEnumMediaTypes over copies of a fixed list. Skip and Clone are not used by a connecting pin.
class FakeTypeList final : public FakeComObject<IEnumMediaTypes> {
 public:
  explicit FakeTypeList(const std::vector<std::unique_ptr<MediaType>>& types) : types_(types) {}
  HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes**) override { return E_NOTIMPL; }

 private:
  const std::vector<std::unique_ptr<MediaType>>& types_;  // the pin's list; the pin outlives us
  size_t position_ = 0;
};

class FakeDownstreamPin final : public FakeComObject<IPin, IMemInputPin> {
 public:
  enum class AllocatorAnswer { Accept, RefuseOffered, RefuseAll };

  // Script, set before connecting.
  std::vector<std::unique_ptr<MediaType>> offered;  // its EnumMediaTypes list
  bool accepts_types = true;                        // ReceiveConnection's answer
  HRESULT refusal = VFW_E_TYPE_NOT_ACCEPTED;        // when it does not accept
  PIN_DIRECTION direction = PINDIR_INPUT;
  bool offers_allocator = true;  // GetAllocator hands out `offered_allocator`
  AllocatorAnswer notify = AllocatorAnswer::Accept;
  ComPtr<IMemAllocator> offered_allocator;  // a standard memory allocator of its own
  std::function<void()> during_connection;  // called in ReceiveConnection before it answers
  // False: keeps no reference on its connector, so the source's last Release can destroy the
  // source while the two are connected.
  bool holds_connector = true;
  std::atomic<HRESULT> receive_result{S_OK};
  // Set while the source is stopped; runs on the source's worker in each Receive, as a
  // downstream filter's own code does.
  std::function<void()> on_receive;

  // What it saw. The atomics are written by the source's worker.
  int enumerations = 0;
  int connections = 0;
  int disconnects = 0;
  std::atomic<int> receives{0};
  std::atomic<int> ends{0};
  std::atomic<int> samples_after_end{0};
  ComPtr<IPin> connector;  // while connected, when holds_connector
  MediaType connection_type;
  ComPtr<IMemAllocator> notified;

  FakeDownstreamPin();

  // IPin
  HRESULT STDMETHODCALLTYPE Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* pin, const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE Disconnect() override;
  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* dir) override {
    *dir = direction;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE*) override {
    return accepts_types ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override;
  HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EndOfStream() override {
    ++ends;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE BeginFlush() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EndFlush() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override {
    return S_OK;
  }

  // IMemInputPin
  HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override;
  HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL read_only) override;
  HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Receive(IMediaSample*) override;
  HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample**, LONG, LONG*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_FALSE; }
};

}  // namespace qp::framework::testing
