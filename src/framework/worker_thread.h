// A stream's worker thread and its one-slot command mailbox: a control thread posts a
// StreamCommand and blocks until the worker answers it with an HRESULT.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "framework/critical_section.h"
#include "framework/event_handle.h"
#include "framework/stream_command.h"

namespace qp::framework {

// Threads: StartThread, HasThread, SendCommand and JoinThread are called on the graph's control
// threads, usually with the FilterLock held; WaitCommand, PeekCommand and AnswerCommand only by
// code running on the worker thread (ThreadMain and what it calls).
//
// Lock order: FilterLock, then access_lock_. The worker never takes access_lock_ (nor the
// FilterLock), so a posted command can always be answered.
//
// Lifetime: ThreadMain runs on this object, so a derived class must have its thread ended
// (its exit command answered and JoinThread called) before its own members go; the destructor
// here only reaps a thread that has ended and would otherwise wait for it.
class WorkerThread {
 public:
  WorkerThread();
  virtual ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // False, creating nothing, while a handle is held (even of an ended thread: JoinThread first),
  // when the mailbox's events could not be created, or when thread creation fails.
  bool StartThread();
  bool HasThread() const { return thread_.load() != nullptr; }

  // Posts `command` and waits for its answer; one command in flight at a time. E_FAIL at once
  // without a thread, and E_FAIL (the command withdrawn) when the thread ends without answering,
  // so a dead worker cannot hang its sender.
  HRESULT SendCommand(StreamCommand command);

  // Waits for the thread to end and closes its handle; nothing without a thread. Safe from
  // several control threads at once; never call it on the worker thread itself.
  void JoinThread();

  // Kernel plus user time, 100 ns, of the running worker or, after it ended, of the last one
  // until the next starts. False before any thread or when the system cannot tell. Any thread,
  // the worker's own included; takes only a leaf lock.
  bool ThreadCpuTime(int64_t& time);

 protected:
  // The thread's body; its result is the thread's exit code. COM is initialised for the
  // thread (multi-threaded apartment) when the process has ole32 loaded.
  virtual DWORD ThreadMain() = 0;

  // Worker side. Blocks until a command is posted; the command stays posted until answered.
  StreamCommand WaitCommand();
  // Worker side, never blocks. True with the posted command in *command (when not null);
  // false, *command untouched, when nothing is posted. Does not take the command.
  bool PeekCommand(StreamCommand* command);
  // Worker side. As PeekCommand, but waits up to timeoutUs for a command to be posted. It may
  // end early without one; see HasFineWait for how exactly it keeps to the timeout.
  bool WaitCommandFor(int64_t timeoutUs, StreamCommand* command);
  // True when WaitCommandFor waits to the µs (the system waits on an address), false when only
  // to the system's tick, in whole ms.
  static bool HasFineWait();
  // Worker side. Withdraws the posted command, then releases its sender with `reply`.
  void AnswerCommand(HRESULT reply);

 private:
  static DWORD WINAPI ThreadEntry(void* parameter);

  EventHandle request_{EventHandle::kManualReset};  // set while a command is posted
  EventHandle completion_{EventHandle::kAutoReset};  // set by an answer, wakes the one sender
  // Written by the sender before request_ is set / by the worker before completion_ is set;
  // the events order the accesses.
  StreamCommand command_ = CommandInit;
  HRESULT reply_ = S_OK;
  // Set with request_ and cleared with it; what PeekCommand reads and a fine wait waits on.
  std::atomic<bool> posted_{false};
  static_assert(sizeof(std::atomic<bool>) == 1 && std::atomic<bool>::is_always_lock_free,
                "a fine wait compares the flag's one byte");
  // Null while no thread exists. Changed only under access_lock_; read without it by HasThread.
  std::atomic<HANDLE> thread_{nullptr};
  // Serialises senders (held until the answer arrives), thread creation and the handle's
  // release, so a sender never waits on a handle that is being closed.
  CriticalSection access_lock_;
  // A second handle of the latest thread, kept past its end for ThreadCpuTime.
  CriticalSection times_lock_;  // leaf
  HANDLE times_thread_ = nullptr;
};

}  // namespace qp::framework
