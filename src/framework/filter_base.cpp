// The filter's state changes, clock, graph membership and events.
#include "framework/filter_base.h"

#include <evcode.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <new>
#include <utility>

#include "framework/pin_base.h"
#include "framework/pin_enumerator.h"

namespace qp::framework {

FilterBase::FilterBase(IUnknown* outer, const CLSID& class_id, CriticalSection& lock)
    : ComObjectBase(outer), class_id_(class_id), lock_(lock) {}

FilterBase::~FilterBase() = default;

HRESULT FilterBase::InnerQueryInterface(REFIID iid, void** out) {
  if (iid == IID_IBaseFilter || iid == IID_IMediaFilter || iid == IID_IPersist) {
    return HandOut(static_cast<IBaseFilter*>(this), out);
  }
  if (iid == IID_IAMovieSetup) return HandOut(static_cast<IAMovieSetup*>(this), out);
  return ComObjectBase::InnerQueryInterface(iid, out);
}

// IPersist

HRESULT FilterBase::GetClassID(CLSID* class_id) {
  if (!class_id) return E_POINTER;
  *class_id = class_id_;
  return S_OK;
}

// IMediaFilter

HRESULT FilterBase::Stop() {
  ScopedLock hold(lock_);
  HRESULT hr = S_OK;
  if (state_.load() != State_Stopped) hr = DeactivatePins(PinCount());
  state_.store(State_Stopped);
  return hr;
}

HRESULT FilterBase::Pause() {
  ScopedLock hold(lock_);
  if (state_.load() == State_Stopped) {
    const int32_t count = PinCount();
    for (int32_t index = 0; index < count; ++index) {
      PinBase* pin = PinAt(index);
      if (!pin || !pin->IsConnected()) continue;
      const HRESULT hr = pin->Activate();
      if (FAILED(hr)) {
        // The filter stays stopped, so a later Stop would not reach the pins already
        // started: their threads would outlive the state that justifies them.
        DeactivatePins(index);
        return hr;
      }
    }
  }
  state_.store(State_Paused);
  return S_OK;
}

HRESULT FilterBase::Run(REFERENCE_TIME start) {
  ScopedLock hold(lock_);
  {
    ScopedLock fields(fields_lock_);
    start_time_ = start;
  }
  if (state_.load() == State_Stopped) {
    // Virtual: a derived filter's Pause is the one used.
    const HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  if (state_.load() != State_Running) {
    const int32_t count = PinCount();
    for (int32_t index = 0; index < count; ++index) {
      PinBase* pin = PinAt(index);
      if (!pin || !pin->IsConnected()) continue;
      const HRESULT hr = pin->OnRun(start);
      if (FAILED(hr)) return hr;
    }
  }
  state_.store(State_Running);
  return S_OK;
}

HRESULT FilterBase::GetState(DWORD /*timeout_ms*/, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  *state = state_.load();
  return S_OK;
}

HRESULT FilterBase::SetSyncSource(IReferenceClock* clock) {
  ScopedLock hold(lock_);
  ComPtr<IReferenceClock> replaced(clock);
  {
    ScopedLock fields(fields_lock_);
    std::swap(clock_, replaced);
  }
  return S_OK;  // the old clock is released here, outside the leaf lock
}

HRESULT FilterBase::GetSyncSource(IReferenceClock** clock) {
  if (!clock) return E_POINTER;
  ComPtr<IReferenceClock> current;
  {
    ScopedLock fields(fields_lock_);
    current = clock_;
  }
  *clock = current.Detach();
  return S_OK;
}

// IBaseFilter

HRESULT FilterBase::EnumPins(IEnumPins** pins) {
  if (!pins) return E_POINTER;
  *pins = new (std::nothrow) PinEnumerator(this);
  return *pins ? S_OK : E_OUTOFMEMORY;
}

HRESULT FilterBase::FindPin(LPCWSTR id, IPin** pin) {
  if (!id || !pin) return E_POINTER;
  PinBase* found = PinAt(_wtoi(id) - 1);
  if (!found) {
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
  }
  *pin = found;
  found->AddRef();
  return S_OK;
}

HRESULT FilterBase::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  IFilterGraph* graph;
  {
    ScopedLock fields(fields_lock_);
    const size_t length = std::min(name_.size(), std::size(info->achName) - 1);
    name_.copy(info->achName, length);
    info->achName[length] = L'\0';
    graph = graph_;
  }
  info->pGraph = graph;
  if (graph) graph->AddRef();
  return S_OK;
}

HRESULT FilterBase::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  ScopedLock hold(lock_);
  IMediaEventSink* sink = nullptr;
  if (graph &&
      SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)))) {
    sink->Release();  // held uncounted, like the graph that owns it
  }
  std::wstring copy;
  try {
    if (name) copy = name;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;  // no exception may leave a COM method
  }
  ScopedLock fields(fields_lock_);
  graph_ = graph;
  event_sink_.store(sink);
  name_ = std::move(copy);
  return S_OK;
}

HRESULT FilterBase::QueryVendorInfo(LPWSTR* /*info*/) { return E_NOTIMPL; }

// IAMovieSetup

HRESULT FilterBase::Register() { return RegistrationData() ? E_NOTIMPL : S_FALSE; }

HRESULT FilterBase::Unregister() { return RegistrationData() ? E_NOTIMPL : S_FALSE; }

// PinOwner

bool FilterBase::IsStarted() { return state_.load() != State_Stopped; }

HRESULT FilterBase::PostEvent(long code, LONG_PTR param1, LONG_PTR param2) {
  IMediaEventSink* sink = event_sink_.load();
  if (!sink) return E_NOTIMPL;
  if (code == EC_COMPLETE) param2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
  return sink->Notify(code, param1, param2);
}

HRESULT FilterBase::GetStreamTime(REFERENCE_TIME& time) {
  ComPtr<IReferenceClock> clock;
  REFERENCE_TIME start;
  {
    ScopedLock fields(fields_lock_);
    clock = clock_;
    start = start_time_;
  }
  if (!clock) return VFW_E_NO_CLOCK;
  REFERENCE_TIME now = 0;
  const HRESULT hr = clock->GetTime(&now);
  if (FAILED(hr)) return hr;
  time = now - start;
  return S_OK;
}

HRESULT FilterBase::DeactivatePins(int32_t count) {
  HRESULT first_failure = S_OK;
  for (int32_t index = 0; index < count; ++index) {
    PinBase* pin = PinAt(index);
    if (!pin || !pin->IsConnected()) continue;
    const HRESULT hr = pin->Deactivate();
    if (FAILED(hr) && SUCCEEDED(first_failure)) first_failure = hr;
  }
  return first_failure;
}

}  // namespace qp::framework
