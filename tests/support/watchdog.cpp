#include "support/watchdog.h"

#include <cstdio>
#include <cstdlib>

namespace qp::test {

// The thread starts once every member it reads is constructed.
Watchdog::Watchdog() : changed_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
  thread_ = CreateThread(nullptr, 0, &Watchdog::Main, this, 0, nullptr);
}

Watchdog::Watchdog(DWORD limit_ms, const char* what) : Watchdog() { Arm(what, limit_ms); }

Watchdog::~Watchdog() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    quit_ = true;
  }
  SetEvent(changed_);
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
  CloseHandle(changed_);
}

void Watchdog::Arm(const char* what, DWORD limit_ms) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    what_ = what;
    limit_ms_ = limit_ms;
  }
  SetEvent(changed_);
}

void Watchdog::Disarm() { Arm("", INFINITE); }

DWORD WINAPI Watchdog::Main(void* parameter) {
  auto* self = static_cast<Watchdog*>(parameter);
  for (;;) {
    DWORD limit;
    {
      std::lock_guard<std::mutex> hold(self->mutex_);
      if (self->quit_) return 0;
      limit = self->limit_ms_;
    }
    if (WaitForSingleObject(self->changed_, limit) == WAIT_TIMEOUT) {
      std::lock_guard<std::mutex> hold(self->mutex_);
      std::fprintf(stderr, "FAILED: %s did not finish within %lu ms\n", self->what_.c_str(),
                   static_cast<unsigned long>(limit));
      std::fflush(stderr);
      std::_Exit(EXIT_FAILURE);
    }
  }
}

}  // namespace qp::test
