// A recursive lock and its scoped holder: the only way the framework takes a lock, so that
// no path can leave one held.
//
// The locks of a filter and the order in which they may be taken (left before right):
//
//   FilterLock → mailbox access lock
//   FilterLock → StreamLock → preset lock → connection lock
//   FilterLock → preset lock, FilterLock → pin-set lock, FilterLock → filter fields lock
//
// - FilterLock (one per filter): state changes and connection changes on control threads. A
//   control thread keeps it while it waits for a worker's answer, so nothing a worker thread
//   can reach waits for it: not the worker's own code, and not the queries a downstream filter
//   makes from inside Receive (pin and filter queries, IAMStreamConfig). Those read state under
//   the leaf locks below or atomics instead.
// - Mailbox access lock (one per worker): serialises senders of commands; never taken by the
//   worker.
// - StreamLock (the video stream's own): held by the worker for a whole FillSample and by the
//   stream start-up and shut-down.
// - Leaf locks, held only to copy or swap a few fields and never while calling another object
//   or waiting: the pin's preset lock (the current preset; also held while a connection type
//   is checked against it, so a format change and a connection cannot cross), the pin's
//   connection lock (peer and connection type), the filter's pin-set lock and fields lock.
#pragma once

#include <windows.h>

namespace qp::framework {

class CriticalSection {
 public:
  CriticalSection() { InitializeCriticalSection(&section_); }
  ~CriticalSection() { DeleteCriticalSection(&section_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void Enter() { EnterCriticalSection(&section_); }
  void Leave() { LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

class ScopedLock {
 public:
  explicit ScopedLock(CriticalSection& lock) : lock_(lock) { lock_.Enter(); }
  ~ScopedLock() { lock_.Leave(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  CriticalSection& lock_;
};

}  // namespace qp::framework
