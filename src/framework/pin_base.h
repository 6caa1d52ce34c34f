// The framework's pin: IPin and IQualityControl over a connection (peer pin and agreed media
// type), and the media-type agreement run when the graph connects it.
#pragma once

#include <strmif.h>
#include <vfwmsgs.h>

#include <atomic>
#include <cstdint>
#include <limits>
#include <string>

#include "framework/com_object_base.h"
#include "platform/windows/com_ptr.h"
#include "framework/critical_section.h"
#include "framework/media_type.h"

namespace qp::framework {

class PinOwner;

// A pin has no count of its own: every AddRef and Release, through any of its interfaces,
// counts on the owning filter, which owns and deletes the pin. It is never aggregated.
//
// Threads: the connection changes (Connect, ReceiveConnection, Disconnect) run on the host's
// control threads under the FilterLock (`lock_`). Everything a downstream filter may ask from
// its streaming thread (ConnectedTo, ConnectionMediaType, QueryPinInfo, QueryDirection,
// QueryAccept, EnumMediaTypes, SetSink) takes no FilterLock: a control thread may hold it while
// it waits for this pin's worker, which is the thread asking. The peer and the connection type
// are written with the FilterLock held and under `connection_lock_`, a leaf lock that readers
// on any thread take for their copy. A connection attempt records its type while no peer is
// set and sets the peer only once both sides agreed, so a reader sees either no connection or
// a peer with its own type, and never an attempt that fails.
//
// The hooks (GetOfferedType, CheckType, SetType) have the signatures of StreamHooks, so a
// stream pin that derives from both overrides them once.
class PinBase : public ComObjectBase, public IPin, public IQualityControl {
 public:
  // `name` is copied; null gives an unnamed pin.
  PinBase(PinOwner* owner, const wchar_t* name, PIN_DIRECTION direction);
  ~PinBase() override;

  QP_IUNKNOWN_FORWARDED_TO_OWNER

  // IPin (QueryId is the stream pin's: it knows the pin's place in the filter)
  HRESULT STDMETHODCALLTYPE Connect(IPin* receive_pin, const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE Disconnect() override;
  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
  HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override;
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** enumerator) override;
  HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** pins, ULONG* count) override;
  // Input-pin calls: E_UNEXPECTED on an output pin.
  HRESULT STDMETHODCALLTYPE EndOfStream() override;
  HRESULT STDMETHODCALLTYPE BeginFlush() override;
  HRESULT STDMETHODCALLTYPE EndFlush() override;
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop,
                                       double rate) override;

  // IQualityControl
  HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* sender, Quality quality) override;
  HRESULT STDMETHODCALLTYPE SetSink(IQualityControl* sink) override;

  // Read by the type enumerator; a change makes its snapshot stale.
  virtual int32_t TypeVersion() { return type_version_; }
  // Filter state changes, control thread, FilterLock held.
  virtual HRESULT Activate() { return S_OK; }
  virtual HRESULT Deactivate() { return S_OK; }
  virtual HRESULT OnRun(REFERENCE_TIME /*start*/) { return S_OK; }

  // Hooks, any thread, with or without the FilterLock: they must not take it. S_OK with the
  // type at `index`; VFW_S_NO_MORE_ITEMS past the end; E_INVALIDARG for a negative index. The
  // default offers nothing.
  virtual HRESULT GetOfferedType(int32_t /*index*/, MediaType* /*type*/) { return E_UNEXPECTED; }
  // S_OK accepts; anything else refuses.
  virtual HRESULT CheckType(const MediaType* type) = 0;
  // FilterLock held. Records the agreed type as the connection type; while a connection is
  // being agreed it is not yet visible (no peer).
  virtual HRESULT SetType(const MediaType* type);

  // Any thread.
  bool IsConnected() const;
  // Read with the FilterLock held, or by the worker thread from a start to its stop (the type
  // cannot change then: the filter is not stopped). Kept after a disconnection.
  const MediaType& ConnectionType() const { return connection_type_; }

 protected:
  HRESULT InnerQueryInterface(REFIID iid, void** out) override;
  // Counted on the owning filter; the pin's own count stays 0.
  ULONG InnerAddRef() override;
  ULONG InnerRelease() override;

  // Connection hooks, control thread, FilterLock held. CheckPeer vets a would-be peer and
  // takes what the pin needs of it; BreakPeer gives that back (a failure keeps the
  // connection); CompletePeer finishes a connection once both sides agreed on the type.
  virtual HRESULT CheckPeer(IPin* peer);
  virtual HRESULT BreakPeer() { return S_OK; }
  virtual HRESULT CompletePeer(IPin* /*peer*/) { return S_OK; }
  // The last step, after CompletePeer: makes the peer visible with the type SetType recorded;
  // a failure undoes the connection. A pin whose CheckType reads state that other threads
  // change without the FilterLock checks the type again here under its own lock, and holds it
  // while it calls this base.
  virtual HRESULT PublishPeer(IPin* peer);

  // FilterLock held, or the worker thread (see ConnectionType).
  IPin* ConnectedPin() const { return connected_.Get(); }
  PinOwner* Filter() const { return owner_; }
  CriticalSection& Lock() const { return lock_; }
  bool RuntimeError() const { return runtime_error_; }
  void ClearRuntimeError() { runtime_error_ = false; }

 private:
  HRESULT AgreeType(IPin* receive_pin, const MediaType* partial);
  HRESULT TryTypes(IPin* receive_pin, const MediaType* partial, IEnumMediaTypes* types);
  HRESULT AttemptConnect(IPin* receive_pin, const MediaType& type);
  HRESULT DropConnection();
  // FilterLock held. Replaces the peer under connection_lock_; the old one is released after.
  void SetPeer(IPin* peer);

  const std::wstring name_;
  ComPtr<IPin> connected_;  // written: FilterLock + connection_lock_; read: either
  const PIN_DIRECTION direction_;
  CriticalSection& lock_;  // the owning filter's FilterLock
  bool runtime_error_ = false;
  bool can_reconnect_when_active_ = false;
  bool try_own_types_first_ = false;
  PinOwner* const owner_;                                // not counted: the filter owns the pin
  std::atomic<IQualityControl*> quality_sink_{nullptr};  // not counted
  int32_t type_version_ = 1;
  MediaType connection_type_;                // written: FilterLock + connection_lock_; read: either
  mutable CriticalSection connection_lock_;  // leaf
  // Last IPin::NewSegment; no lock (the peer calls it on its streaming thread).
  REFERENCE_TIME segment_start_ = 0;
  REFERENCE_TIME segment_stop_ = std::numeric_limits<REFERENCE_TIME>::max();
  double segment_rate_ = 1.0;
};

}  // namespace qp::framework
