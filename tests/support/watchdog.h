// Turns a hang into a failure: ends the whole process with a message when an armed step
// overruns. A hung call still uses objects the test would go on to destroy, so it cannot just
// be reported and the test carried on.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>

namespace qp::test {

// One thread for the watchdog's life. Arm and Disarm from the test thread; a step is armed
// until the next Arm, Disarm or the destructor.
class Watchdog {
 public:
  Watchdog();
  // Armed at once for `what`, for as long as the watchdog lives.
  Watchdog(DWORD limit_ms, const char* what);
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  void Arm(const char* what, DWORD limit_ms);
  void Disarm();

 private:
  static DWORD WINAPI Main(void* self);
  HANDLE changed_;
  HANDLE thread_ = nullptr;
  std::mutex mutex_;  // guards what_, limit_ms_ and quit_
  std::string what_;
  DWORD limit_ms_ = INFINITE;
  bool quit_ = false;
};

}  // namespace qp::test
