// A stream's worker thread and its one-slot command mailbox: a control thread posts a
// StreamCommand and blocks until the worker answers it with an HRESULT.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "framework/critical_section.h"
#include "platform/windows/event_handle.h"
#include "framework/stream_command.h"

namespace qp::framework {

// Threads: StartThread, HasThread, ThreadEnded, SendCommand, EndThread, ForgetThread and
// JoinThread are called on the graph's control threads, usually with the FilterLock held;
// WaitCommand, PeekCommand, AnswerCommand and RestoreThreadState only by code running on the
// worker thread (ThreadMain and what it calls).
//
// Lock order: FilterLock, then access_lock_. The worker never takes access_lock_ (nor the
// FilterLock), so a posted command can always be answered.
//
// Lifetime: ThreadMain runs on this object, so a derived class must have its thread ended
// before its own members go: EndThread, whose answered CommandExit is the worker's last touch
// of the object. The thread holds its own reference on the module and ends after that by
// itself, so nothing waits for its end: a host may release the last object under the loader
// lock, which a thread's end needs. The destructor here only reaps a thread that has ended
// and would otherwise wait for it.
class WorkerThread {
 public:
  WorkerThread();
  virtual ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // False, creating nothing, while a handle is held (even of an ended thread: JoinThread first),
  // when the mailbox's events could not be created, or when the thread or its reference on the
  // module cannot be had.
  bool StartThread();
  bool HasThread() const { return thread_.load() != nullptr; }
  // True when a handle is held and its thread has ended (or was ended by the host); never
  // blocks.
  bool ThreadEnded();

  // Posts `command` and waits for its answer; one command in flight at a time. E_FAIL at once
  // without a thread, and E_FAIL (the command withdrawn) when the thread ends without answering,
  // so a dead worker cannot hang its sender.
  HRESULT SendCommand(StreamCommand command);

  // Sends CommandExit and lets the thread go without waiting for its end: S_OK or the thread's
  // answer; E_FAIL when there was no thread or it ended unanswered.
  HRESULT EndThread();
  // Closes the handle without waiting: for a thread that answered its last command or ended.
  void ForgetThread();
  // Waits for the thread to end and closes its handle; nothing without a thread. Safe from
  // several control threads at once; never call it on the worker thread itself, nor where
  // the loader lock may be held.
  void JoinThread();

  // Kernel plus user time, 100 ns, of the running worker or, after it ended, of the last one
  // until the next starts. False before any thread or when the system cannot tell. Any thread,
  // the worker's own included; takes only a leaf lock.
  bool ThreadCpuTime(int64_t& time);

 protected:
  // The thread's body; its result is the thread's exit code. COM is initialised for the
  // thread (multi-threaded apartment) when the process has ole32 loaded. After it answered
  // CommandExit it returns without touching the object, which may be gone by then.
  virtual DWORD ThreadMain() = 0;

  // Worker side. Undoes what code that ran on the thread in an earlier start (a downstream
  // filter, an application's callback) may have changed: priority, priority boost, affinity.
  // False when the thread cannot be made as new: its priority will not come back to normal, or
  // its COM apartment was ended or changed. Multimedia-scheduler registrations cannot be seen.
  bool RestoreThreadState();

  // Worker side. Blocks until a command is posted; the command stays posted until answered.
  StreamCommand WaitCommand();
  // Worker side, never blocks. True with the posted command in *command (when not null);
  // false, *command untouched, when nothing is posted. Does not take the command.
  bool PeekCommand(StreamCommand* command);
  // Worker side. As PeekCommand, but waits up to timeout_us for a command to be posted. It may
  // end early without one; see HasFineWait for how exactly it keeps to the timeout.
  bool WaitCommandFor(int64_t timeout_us, StreamCommand* command);
  // True when WaitCommandFor waits to the µs (the system waits on an address), false when only
  // to the system's tick, in whole ms.
  static bool HasFineWait();
  // Worker side. Withdraws the posted command, then releases its sender with `reply`.
  void AnswerCommand(HRESULT reply);

 private:
  static DWORD WINAPI ThreadEntry(void* parameter);

  EventHandle request_{EventHandle::kManualReset};   // set while a command is posted
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
  // The reference on the module that StartThread takes for the thread it creates; written
  // before the thread starts and read by it at its entry, and released by it at its end.
  HMODULE module_ = nullptr;
  // Worker only: ThreadEntry initialised COM for the thread.
  bool multithreaded_ = false;
  // Serialises senders (held until the answer arrives), thread creation and the handle's
  // release, so a sender never waits on a handle that is being closed.
  CriticalSection access_lock_;
  // A second handle of the latest thread, kept past its end for ThreadCpuTime.
  CriticalSection times_lock_;  // leaf
  HANDLE times_thread_ = nullptr;
};

}  // namespace qp::framework
