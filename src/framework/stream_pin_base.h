// The output pin of a source filter that produces its samples itself, on its own worker
// thread: take an empty sample, have the stream fill it, deliver it, until the filter stops.
#pragma once

#include <strmif.h>

#include <atomic>
#include <cstdint>

#include "framework/media_type.h"
#include "framework/output_pin_base.h"
#include "framework/stream_command.h"
#include "framework/stream_hooks.h"
#include "framework/worker_thread.h"

namespace qp::framework {

class SourceFilterBase;

// A stream derives from this class and supplies the StreamHooks; it offers itself the
// StreamServices. The hooks GetOfferedType, CheckType and SetType share their signatures with
// the pin's, so one override serves both.
//
// Threads:
// - Control threads, FilterLock held: Activate, Deactivate, OnRun, the connection hooks. They
//   wait for the worker's answer with the FilterLock held (FilterLock → mailbox lock).
// - The worker thread: ThreadMain, StreamLoop, FillSample, OnThreadStart, OnThreadStop,
//   OnStreamStart, and the delivery calls. It takes neither the FilterLock nor the mailbox
//   lock; the only filter calls it makes (GetState, GetStreamTime, PostEvent) take no
//   FilterLock either. A downstream filter may call back from inside Receive: the type and pin
//   queries (GetOfferedType, CheckType, QueryId) take no FilterLock.
//
// Lifetime: the filter owns the stream and stops it before deleting it; the stopped stream's
// worker, kept for the next start, is ended here. A stream deleted while its thread runs is
// stopped here too, after the derived parts are gone; a derived class that may be deleted that
// way calls StopThread first in its own destructor. Each start first sets the kept thread back
// to a new thread's state, or replaces it (RestoreThreadState), and replaces one that ended.
// What the last activation spent, µs.
struct ActivationTimes {
  int32_t activate_us = -1;  // all of it
  int32_t commit_us = -1;    // the allocator's commit
  int32_t thread_us = -1;    // creating the worker; 0 when the previous start's serves
  int32_t init_us = -1;      // the stream's start-up on the worker (CommandInit answered)
};

class StreamPinBase : public WorkerThread,
                      public OutputPinBase,
                      public StreamServices,
                      public StreamHooks {
 public:
  // Attaches the stream to `filter`; its failure (E_OUTOFMEMORY) is stored in *result, which
  // is left alone otherwise. `name` is copied.
  StreamPinBase(HRESULT* result, SourceFilterBase* filter, const wchar_t* name);
  ~StreamPinBase() override;

  // IPin: the 1-based position in the filter, in decimal, in task memory the caller frees.
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;

  // Control thread, FilterLock taken. Commits the allocator, starts the worker, runs the
  // stream start-up (CommandInit) and the loop (CommandPause). S_FALSE when the filter has
  // already started; S_OK and no thread while unconnected. A failure leaves no thread and the
  // allocator decommitted.
  HRESULT Activate() override;
  // Control thread, FilterLock taken. Decommits the allocator, then stops the stream on the
  // worker even when the decommit failed; the first failure is returned. The worker waits for
  // the next start; one whose stop failed is ended.
  HRESULT Deactivate() override;

  // Pin hooks, any thread, no FilterLock: the one type of GetSingleType.
  HRESULT GetOfferedType(int32_t index, MediaType* type) override;
  HRESULT CheckType(const MediaType* type) override;
  HRESULT SetType(const MediaType* type) override { return OutputPinBase::SetType(type); }

  // StreamServices
  bool PeekCommand(StreamCommand& command) override;
  bool WaitForCommand(int64_t timeout_us, StreamCommand& command) override;
  bool FineCommandWait() override { return WorkerThread::HasFineWait(); }
  HRESULT GetStreamTime(REFERENCE_TIME& time) override;
  HRESULT GetFilterState(DWORD timeout_ms, FILTER_STATE& state) override;
  CriticalSection& PinLock() override { return Lock(); }
  HRESULT SetConnectionType(const MediaType& type) override;
  const MediaType& ConnectionType() override { return OutputPinBase::ConnectionType(); }

 protected:
  // The only type of a stream that offers one; E_UNEXPECTED by default. Any thread; must not
  // take the FilterLock.
  virtual HRESULT GetSingleType(MediaType* type);

  // Worker thread. Produces samples until a CommandStop is posted (S_FALSE, the command left
  // for ThreadMain to answer), the stream ends or fails, or downstream refuses a sample.
  virtual HRESULT StreamLoop();

  // Control thread, FilterLock held: the activation that got as far as starting the worker.
  virtual void OnActivated(const ActivationTimes& /*times*/) {}

  // Control thread, FilterLock held or the stream being destroyed. Sends CommandStop and
  // CommandExit and lets the worker end by itself, without waiting for its end (see
  // WorkerThread); S_OK without a thread, else the first failure. A stop of the filter keeps
  // the thread for the next start; this ends it.
  HRESULT StopThread();

  using WorkerThread::PeekCommand;

 private:
  DWORD ThreadMain() override;

  SourceFilterBase* const filter_;  // not counted: the filter owns the stream
  // Set by a worker that could not restore its state at CommandInit, before it answers and
  // ends; taken by the control thread that sent the command.
  std::atomic<bool> thread_unfit_{false};
};

}  // namespace qp::framework
