// The framework's filter object: IBaseFilter (with IMediaFilter and IPersist) and IAMovieSetup
// over the filter's state, reference clock, run start time, graph membership and event sink,
// passing every state change on to its pins.
#pragma once

#include <strmif.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "framework/com_object_base.h"
#include "platform/windows/com_ptr.h"
#include "framework/critical_section.h"
#include "framework/pin_owner.h"

namespace qp::framework {

// The pin set (PinCount, PinAt) is the derived filter's; this base drives the pins through it.
//
// Threads and locks:
// - Control threads: Stop, Pause, Run, SetSyncSource and JoinFilterGraph hold the FilterLock
//   (`lock_`), and a state change keeps holding it while a pin's Activate or Deactivate waits
//   for that pin's worker thread to answer (FilterLock → mailbox lock).
// - Worker threads reach the filter through GetState, GetStreamTime and PostEvent, and
//   downstream filters ask it from inside Receive for QueryFilterInfo, EnumPins, FindPin and
//   GetSyncSource. None of these takes the FilterLock, or the worker could wait for a control
//   thread that is waiting for it. What they read is either atomic (`state_`, `event_sink_`),
//   the pin set under the derived filter's leaf lock, or copied under `fields_lock_`, a leaf
//   lock held only for the copy and never while calling out.
class FilterBase : public ComObjectBase, public IBaseFilter, public IAMovieSetup, public PinOwner {
 public:
  QP_IUNKNOWN_FORWARDED_TO_OWNER

  // IPersist
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* class_id) override;

  // IMediaFilter
  // Deactivates every connected pin, even after one failed; stopped in any case; the first
  // failure is returned.
  HRESULT STDMETHODCALLTYPE Stop() override;
  // From stopped, activates every connected pin; a pin that fails undoes the ones before it
  // and the filter stays stopped.
  HRESULT STDMETHODCALLTYPE Pause() override;
  HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
  // The state at once, S_OK; the time-out is not used. Any thread, no lock.
  HRESULT STDMETHODCALLTYPE GetState(DWORD timeout_ms, FILTER_STATE* state) override;
  HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
  HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;

  // IBaseFilter
  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
  // `id` as QueryId writes it: the 1-based pin position in decimal, read like _wtoi.
  HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;
  HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
  // `graph` is kept uncounted (the graph holds the filter); so is its event sink.
  HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override;

  // IAMovieSetup: the module registers its filters itself, so without a registration record
  // there is nothing to do (S_FALSE); a filter that gives a record is not supported here.
  HRESULT STDMETHODCALLTYPE Register() override;
  HRESULT STDMETHODCALLTYPE Unregister() override;

  // PinOwner
  IBaseFilter* BaseFilter() override { return this; }
  CriticalSection& FilterLock() override { return lock_; }
  bool IsStarted() override;  // any thread, no lock
  int32_t PinSetVersion() override { return pin_set_version_.load(); }

  // Any thread, no lock. Notifies the graph's event sink; for EC_COMPLETE the second parameter
  // is this filter's IBaseFilter whatever the caller gave. E_NOTIMPL outside a graph.
  HRESULT PostEvent(long code, LONG_PTR param1, LONG_PTR param2);
  // Any thread, no FilterLock: the clock's time minus the run start time, 100 ns.
  // VFW_E_NO_CLOCK without a clock; a failure of the clock is returned.
  HRESULT GetStreamTime(REFERENCE_TIME& time);

  // The filter's registration record, or null (always, in this module).
  virtual const REGFILTER2* RegistrationData() { return nullptr; }

 protected:
  // `lock` is the FilterLock, owned by the derived filter; it may not be constructed yet and
  // is not touched before the derived constructor has run.
  FilterBase(IUnknown* outer, const CLSID& class_id, CriticalSection& lock);
  ~FilterBase() override;

  HRESULT InnerQueryInterface(REFIID iid, void** out) override;

  // Called by a derived filter whenever its pin set changes, so that enumerators start over.
  void PinSetChanged() { pin_set_version_.fetch_add(1); }

 private:
  // Deactivates the first `count` pins in index order; the first failure, else S_OK.
  HRESULT DeactivatePins(int32_t count);

  std::atomic<FILTER_STATE> state_{State_Stopped};  // changed under lock_; read by any thread
  ComPtr<IReferenceClock> clock_;                   // counted; fields_lock_
  REFERENCE_TIME start_time_ = 0;                   // fields_lock_
  const CLSID class_id_;
  CriticalSection& lock_;                              // the FilterLock
  std::wstring name_;                                  // fields_lock_; empty when none was given
  IFilterGraph* graph_ = nullptr;                      // not counted; fields_lock_
  std::atomic<IMediaEventSink*> event_sink_{nullptr};  // not counted: the graph's own
  std::atomic<int32_t> pin_set_version_{1};
  // Leaf lock: taken after the FilterLock or the stream's own lock, never held while calling
  // another object.
  CriticalSection fields_lock_;
};

}  // namespace qp::framework
