// The stream pin's activation, its worker thread's command dispatch and the stream loop.
#include "framework/stream_pin_base.h"

#include <evcode.h>
#include <objbase.h>
#include <vfwmsgs.h>

#include <cwchar>

#include "platform/windows/com_ptr.h"
#include "framework/source_filter_base.h"

namespace qp::framework {

StreamPinBase::StreamPinBase(HRESULT* result, SourceFilterBase* filter, const wchar_t* name)
    : OutputPinBase(filter, name), filter_(filter) {
  const HRESULT hr = filter_->AttachStream(this);
  if (FAILED(hr) && result) *result = hr;
}

StreamPinBase::~StreamPinBase() {
  StopThread();
  filter_->DetachStream(this);
}

// IPin

HRESULT StreamPinBase::QueryId(LPWSTR* id) {
  if (!id) return E_POINTER;
  *id = nullptr;
  const int32_t index = filter_->IndexOfPin(this);
  if (index < 0) return VFW_E_NOT_FOUND;
  constexpr size_t kLength = 12;  // any 32-bit position and the terminator
  auto* text = static_cast<wchar_t*>(CoTaskMemAlloc(kLength * sizeof(wchar_t)));
  if (!text) return E_OUTOFMEMORY;
  swprintf(text, kLength, L"%d", index + 1);
  *id = text;
  return S_OK;
}

// State changes

namespace {

int64_t Counter() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

}  // namespace

HRESULT StreamPinBase::Activate() {
  ScopedLock hold(Lock());
  if (filter_->IsStarted()) return S_FALSE;
  if (!IsConnected()) return S_OK;

  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  const int64_t per_second = frequency.QuadPart > 0 ? frequency.QuadPart : 1;
  const auto us = [&](int64_t from, int64_t to) {
    return static_cast<int32_t>((to - from) * 1000000 / per_second);
  };
  ActivationTimes times;
  const int64_t begun = Counter();
  HRESULT hr = OutputPinBase::Activate();
  const int64_t committed = Counter();
  times.commit_us = us(begun, committed);
  if (FAILED(hr)) return hr;
  // The thread of the previous start serves this one: creating a thread costs a start about
  // a ms under Wine. One the host ended (TerminateThread) cannot answer: a new one serves.
  if (ThreadEnded()) JoinThread();
  if (!HasThread() && !StartThread()) {
    OutputPinBase::Deactivate();
    return E_FAIL;
  }
  const int64_t threaded = Counter();
  times.thread_us = us(committed, threaded);
  hr = SendCommand(CommandInit);
  if (thread_unfit_.exchange(false)) {
    // It answered as its last act and ends by itself.
    ForgetThread();
    hr = StartThread() ? SendCommand(CommandInit) : E_FAIL;
    thread_unfit_.store(false);  // a new one that failed the same way has ended too
  }
  times.init_us = us(threaded, Counter());
  if (SUCCEEDED(hr)) hr = SendCommand(CommandPause);
  times.activate_us = us(begun, Counter());
  OnActivated(times);
  if (FAILED(hr)) {
    // Ended, so that no handle of a thread that may have died is left held: the next
    // activation starts a new one.
    StopThread();
    OutputPinBase::Deactivate();
  }
  return hr;
}

HRESULT StreamPinBase::Deactivate() {
  ScopedLock hold(Lock());
  // Decommitting first releases a worker blocked in GetFreeSample, so it reaches the mailbox.
  const HRESULT decommitted = IsConnected() ? OutputPinBase::Deactivate() : S_OK;
  // Stopped even when the decommit failed: the filter is stopped from now on whatever this
  // returns, and a stream left running would keep it from ever starting again. The thread
  // waits for the next start; one whose stop failed is ended instead.
  HRESULT stopped = S_OK;
  if (HasThread() && FAILED(stopped = SendCommand(CommandStop))) StopThread();
  return FAILED(decommitted) ? decommitted : stopped;
}

HRESULT StreamPinBase::StopThread() {
  if (!HasThread()) return S_OK;
  HRESULT hr = SendCommand(CommandStop);
  // Not joined: this may run under the loader lock (a final Release from DllMain), which the
  // thread's end needs. A dead thread's handle is let go all the same.
  const HRESULT exited = EndThread();
  if (SUCCEEDED(hr)) hr = exited;
  return hr;
}

// Types

HRESULT StreamPinBase::GetOfferedType(int32_t index, MediaType* type) {
  if (!type) return E_POINTER;
  if (index < 0) return E_INVALIDARG;
  if (index > 0) return VFW_S_NO_MORE_ITEMS;
  return GetSingleType(type);
}

HRESULT StreamPinBase::CheckType(const MediaType* type) {
  if (!type) return E_POINTER;
  MediaType single;
  const HRESULT hr = GetSingleType(&single);
  if (FAILED(hr)) return hr;
  return single == *type ? S_OK : E_FAIL;
}

HRESULT StreamPinBase::GetSingleType(MediaType* /*type*/) { return E_UNEXPECTED; }

// StreamServices

bool StreamPinBase::PeekCommand(StreamCommand& command) {
  return WorkerThread::PeekCommand(&command);
}

bool StreamPinBase::WaitForCommand(int64_t timeout_us, StreamCommand& command) {
  return WorkerThread::WaitCommandFor(timeout_us, &command);
}

HRESULT StreamPinBase::GetStreamTime(REFERENCE_TIME& time) { return filter_->GetStreamTime(time); }

HRESULT StreamPinBase::GetFilterState(DWORD timeout_ms, FILTER_STATE& state) {
  // Through the interface: a derived filter answers VFW_S_CANT_CUE while paused.
  return static_cast<IBaseFilter*>(filter_)->GetState(timeout_ms, &state);
}

HRESULT StreamPinBase::SetConnectionType(const MediaType& type) {
  return OutputPinBase::SetType(&type);
}

// Worker thread

// A thread serves one start after another: between a stop and the next start it waits for
// CommandInit (or CommandExit), with the stream shut down.
DWORD StreamPinBase::ThreadMain() {
  for (;;) {
    StreamCommand command = WaitCommand();
    if (command == CommandExit) {
      AnswerCommand(S_OK);
      return 0;
    }
    if (command != CommandInit) {
      // A stop of a stopped stream is no failure; anything else needs a start first.
      AnswerCommand(command == CommandStop ? S_OK : E_UNEXPECTED);
      continue;
    }
    // Code of others ran on this thread in the previous start.
    if (!RestoreThreadState()) {
      thread_unfit_.store(true);
      AnswerCommand(E_FAIL);
      return 1;
    }
    const HRESULT started = OnThreadStart();
    if (FAILED(started)) {
      OnThreadStop();
      AnswerCommand(started);
      continue;
    }
    AnswerCommand(S_OK);

    do {
      command = WaitCommand();
      switch (command) {
        case CommandPause:
        case CommandRun:
          AnswerCommand(S_OK);
          StreamLoop();
          break;
        case CommandStop:
        case CommandExit: break;  // answered once the stream is shut down
        default: AnswerCommand(E_NOTIMPL); break;
      }
    } while (command != CommandStop && command != CommandExit);
    // Shut down before the answer: the control thread's Stop returns with the stream ended.
    const HRESULT stopped = OnThreadStop();
    AnswerCommand(stopped);
    if (command == CommandExit) return FAILED(stopped) ? 1 : 0;
  }
}

HRESULT StreamPinBase::StreamLoop() {
  OnStreamStart();
  for (;;) {
    StreamCommand command;
    while (!WorkerThread::PeekCommand(&command)) {
      ComPtr<IMediaSample> sample;
      SampleTimes times;
      times.asked = LoopClock();
      if (FAILED(GetFreeSample(&sample, nullptr, nullptr, 0))) {
        // Transient: a decommitted allocator means a stop is on its way to the mailbox.
        Sleep(1);
        continue;
      }
      times.got = LoopClock();
      const HRESULT filled = FillSample(sample.Get());
      if (filled == S_OK) {
        times.delivering = LoopClock();
        const HRESULT delivered = DeliverSample(sample.Get());
        // != S_OK: downstream's S_FALSE means it wants no more samples, without an end.
        if (delivered != S_OK) return S_OK;
        times.delivered = LoopClock();
        OnSampleDone(times);
        continue;
      }
      sample.Reset();
      DeliverEnd();
      if (filled == S_FALSE) return S_OK;
      filter_->PostEvent(EC_ERRORABORT, filled, 0);
      return filled;
    }
    switch (command) {
      case CommandPause:
      case CommandRun:
        AnswerCommand(S_OK);  // paused and running both produce
        break;
      case CommandStop: return S_FALSE;  // ThreadMain answers it
      default: AnswerCommand(E_UNEXPECTED); break;
    }
  }
}

}  // namespace qp::framework
