// The worker thread's start, end and mailbox.
#include "framework/worker_thread.h"

#include <objbase.h>

#include "platform/windows/scoped_handle.h"

namespace qp::framework {
namespace {

// GetProcAddress's generic result, as the function type the export really has.
template <typename Function>
Function LookUp(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// COM for the calling thread without loading a library: only an ole32 the process already has
// is used. Uninitialises only what it initialised.
class ThreadApartment {
  using InitializeFunction = HRESULT(WINAPI*)(void*, DWORD);
  using UninitializeFunction = void(WINAPI*)();

 public:
  ThreadApartment() {
    const HMODULE ole32 = GetModuleHandleA("ole32.dll");
    if (!ole32) return;
    const auto initialize = LookUp<InitializeFunction>(ole32, "CoInitializeEx");
    uninitialize_ = LookUp<UninitializeFunction>(ole32, "CoUninitialize");
    if (!initialize || !uninitialize_) return;
    result_ = initialize(nullptr, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE);
  }
  ~ThreadApartment() {
    if (SUCCEEDED(result_)) uninitialize_();
  }
  bool Initialized() const { return SUCCEEDED(result_); }
  ThreadApartment(const ThreadApartment&) = delete;
  ThreadApartment& operator=(const ThreadApartment&) = delete;

 private:
  HRESULT result_ = E_FAIL;
  UninitializeFunction uninitialize_ = nullptr;
};

// Waiting on an address ends to the µs and wakes at once when the address is written; waiting
// on an event goes through the system's scheduler tick and, under Wine, its server, and costs
// a second wake-up a frame to end exactly. Windows 8 and later.
struct AddressWaits {
  using WaitFunction = LONG(WINAPI*)(const void* address, const void* compare, SIZE_T size,
                                     const LARGE_INTEGER* timeout);
  using WakeFunction = void(WINAPI*)(const void* address);
  WaitFunction wait = nullptr;
  WakeFunction wake = nullptr;
};

const AddressWaits& Addresses() {
  static const AddressWaits found = [] {
    AddressWaits functions;
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (!ntdll) return functions;
    functions.wait = LookUp<AddressWaits::WaitFunction>(ntdll, "RtlWaitOnAddress");
    functions.wake = LookUp<AddressWaits::WakeFunction>(ntdll, "RtlWakeAddressAll");
    if (!functions.wait || !functions.wake) functions = AddressWaits{};
    return functions;
  }();
  return found;
}

// Whether the calling thread is still in the multi-threaded apartment; through an ole32 the
// process already has, as ThreadApartment.
bool InMultithreadedApartment() {
  using QueryFunction = HRESULT(WINAPI*)(APTTYPE*, APTTYPEQUALIFIER*);
  const HMODULE ole32 = GetModuleHandleA("ole32.dll");
  const auto query = ole32 ? LookUp<QueryFunction>(ole32, "CoGetApartmentType") : nullptr;
  APTTYPE type;
  APTTYPEQUALIFIER qualifier;
  // A thread that left the apartment still counts as in it, implicitly, while others are.
  return query && query(&type, &qualifier) == S_OK && type == APTTYPE_MTA &&
         qualifier != APTTYPEQUALIFIER_IMPLICIT_MTA;
}

}  // namespace

WorkerThread::WorkerThread() = default;

WorkerThread::~WorkerThread() {
  JoinThread();
  if (times_thread_) CloseHandle(times_thread_);
}

bool WorkerThread::StartThread() {
  ScopedLock lock(access_lock_);
  if (thread_.load()) return false;
  if (!request_.IsValid() || !completion_.IsValid()) return false;
  // Taken here, not by the thread: the module must stay while a created thread has yet to run.
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(&WorkerThread::ThreadEntry), &module))
    return false;
  module_ = module;
  const HANDLE thread = CreateThread(nullptr, 0, &WorkerThread::ThreadEntry, this, 0, nullptr);
  thread_.store(thread);
  if (!thread) {
    FreeLibrary(module);
    return false;
  }
  HANDLE second = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &second,
                       THREAD_QUERY_LIMITED_INFORMATION, FALSE, 0))
    second = nullptr;
  ScopedLock times(times_lock_);
  if (times_thread_) CloseHandle(times_thread_);
  times_thread_ = second;
  return true;
}

bool WorkerThread::ThreadCpuTime(int64_t& time) {
  ScopedLock hold(times_lock_);
  FILETIME created, exited, kernel, user;
  if (!times_thread_ || !GetThreadTimes(times_thread_, &created, &exited, &kernel, &user))
    return false;
  const auto value = [](const FILETIME& t) {
    return static_cast<int64_t>((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime);
  };
  time = value(kernel) + value(user);
  return true;
}

HRESULT WorkerThread::SendCommand(StreamCommand command) {
  ScopedLock lock(access_lock_);
  const HANDLE thread = thread_.load();
  if (!thread) return E_FAIL;
  // An answer nobody asked for must not pass for this command's.
  completion_.Clear();
  command_ = command;
  posted_.store(true, std::memory_order_release);
  request_.Set();
  if (Addresses().wake) Addresses().wake(&posted_);
  // When the worker answers and then ends, both are set and the answer (index 0) wins.
  const HANDLE answered_or_ended[] = {completion_.Get(), thread};
  if (WaitForMultipleObjects(2, answered_or_ended, FALSE, INFINITE) == WAIT_OBJECT_0) {
    return reply_;
  }
  // The thread ended unanswered: a later thread must not find this command posted.
  posted_.store(false, std::memory_order_release);
  request_.Clear();
  return E_FAIL;
}

bool WorkerThread::ThreadEnded() {
  ScopedLock lock(access_lock_);
  const HANDLE thread = thread_.load();
  return thread && WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
}

HRESULT WorkerThread::EndThread() {
  const HRESULT hr = SendCommand(CommandExit);
  // Answered or ended: either way the thread no longer touches this object.
  ForgetThread();
  return hr;
}

void WorkerThread::ForgetThread() {
  ScopedLock lock(access_lock_);
  ScopedHandle thread(thread_.exchange(nullptr));
}

void WorkerThread::JoinThread() {
  ScopedHandle thread;
  {
    // Not held while waiting: another control thread may still have to send the command
    // that ends the worker.
    ScopedLock lock(access_lock_);
    thread = ScopedHandle(thread_.exchange(nullptr));
  }
  if (thread) WaitForSingleObject(thread.Get(), INFINITE);
}

StreamCommand WorkerThread::WaitCommand() {
  WaitForSingleObject(request_.Get(), INFINITE);
  return command_;
}

// The flag, not the event: asking the event is a system call, and the worker asks every frame
// and several times while it waits for one.
bool WorkerThread::PeekCommand(StreamCommand* command) {
  if (!posted_.load(std::memory_order_acquire)) return false;
  if (command) *command = command_;
  return true;
}

bool WorkerThread::WaitCommandFor(int64_t timeout_us, StreamCommand* command) {
  if (PeekCommand(command)) return true;
  if (timeout_us <= 0) return false;
  if (Addresses().wait) {
    // Returns when the flag is no longer false, at the timeout, or (rarely) for no reason: the
    // caller asks again with what is left.
    const bool idle = false;
    LARGE_INTEGER relative;
    relative.QuadPart = -timeout_us * 10;
    Addresses().wait(&posted_, &idle, sizeof idle, &relative);
    return PeekCommand(command);
  }
  const int64_t whole_ms = timeout_us / 1000;
  const DWORD timeout_ms = static_cast<DWORD>(whole_ms < 0x7FFFFFFF ? whole_ms : 0x7FFFFFFF);
  // Without the event there is nothing to wait on; the caller's clock still moves on.
  if (!request_.IsValid()) {
    Sleep(timeout_ms);
  } else if (WaitForSingleObject(request_.Get(), timeout_ms) != WAIT_OBJECT_0) {
    return false;
  }
  return PeekCommand(command);
}

bool WorkerThread::HasFineWait() { return Addresses().wait != nullptr; }

bool WorkerThread::RestoreThreadState() {
  const HANDLE self = GetCurrentThread();
  SetThreadPriority(self, THREAD_PRIORITY_NORMAL);
  SetThreadPriorityBoost(self, FALSE);  // FALSE: boosts allowed, as for a new thread
  DWORD_PTR process = 0, system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process)
    SetThreadAffinityMask(self, process);
  if (GetThreadPriority(self) != THREAD_PRIORITY_NORMAL) return false;
  return !multithreaded_ || InMultithreadedApartment();
}

void WorkerThread::AnswerCommand(HRESULT reply) {
  reply_ = reply;
  // Cleared before the sender runs on, so the worker cannot take the answered command again.
  posted_.store(false, std::memory_order_release);
  request_.Clear();
  completion_.Set();
}

DWORD WINAPI WorkerThread::ThreadEntry(void* parameter) {
  auto* self = static_cast<WorkerThread*>(parameter);
  const HMODULE module = self->module_;
  DWORD code = 0;
  {
    ThreadApartment apartment;
    self->multithreaded_ = apartment.Initialized();
    code = self->ThreadMain();
  }
  // The module's last reference may be this one: its code must not run after the release.
  FreeLibraryAndExitThread(module, code);
}

}  // namespace qp::framework
