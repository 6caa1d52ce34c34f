// An unnamed event owned by its holder.
#pragma once

#include <windows.h>

#include "platform/windows/scoped_handle.h"

namespace qp::framework {

// Created clear. When the system cannot create it, IsValid() is false and Set/Clear/IsSet do
// nothing (IsSet answers false); its owner decides what that means.
class EventHandle {
 public:
  enum ResetMode { kAutoReset, kManualReset };

  explicit EventHandle(ResetMode reset)
      : handle_(CreateEventA(nullptr, reset == kManualReset, FALSE, nullptr)) {}

  bool IsValid() const { return static_cast<bool>(handle_); }
  HANDLE Get() const { return handle_.Get(); }

  void Set() {
    if (handle_) SetEvent(handle_.Get());
  }
  void Clear() {
    if (handle_) ResetEvent(handle_.Get());
  }
  // Never blocks; on an auto-reset event a true answer consumes the signal.
  bool IsSet() const { return handle_ && WaitForSingleObject(handle_.Get(), 0) == WAIT_OBJECT_0; }

 private:
  ScopedHandle handle_;
};

}  // namespace qp::framework
