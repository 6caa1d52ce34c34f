#include "stream/stream_environment.h"

#include <mmsystem.h>

#include "config/module_directory.h"

namespace qp::stream {
namespace {

// ntdll's relative delay, 100 ns units; Sleep would round to whole ms.
using DelayFunction = LONG(WINAPI*)(BOOLEAN alertable, const LARGE_INTEGER* interval);
// The system timer's resolutions, 100 ns units.
using TimerResolutionFunction = LONG(WINAPI*)(ULONG* coarsest, ULONG* finest, ULONG* current);
// Windows 8 and later; the headers declare it only for builds that require those.
struct MemoryRange {
  void* address;
  SIZE_T bytes;
};
using PrefetchFunction = BOOL(WINAPI*)(HANDLE process, ULONG_PTR count, MemoryRange* ranges,
                                       ULONG flags);

// CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, Windows 10 1803 and later; older systems refuse it.
constexpr DWORD kHighResolutionTimer = 0x2;
// What a high-resolution timer's waits overrun on Windows, µs.
constexpr int64_t kHighResolutionGrainUs = 500;
// Wine's sleeps end within about 0.1 ms; its waitable timers go through its server and end
// about a ms late, so there the plain delay is the fine timer.
constexpr int64_t kWineGrainUs = 100;
constexpr int64_t kRaisedGrainUs = 1000;

template <typename Function>
Function Export(const char* module, const char* name) {
  const HMODULE handle = GetModuleHandleA(module);
  if (!handle) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(handle, name)));
}

bool UnderWine() {
  static const bool wine = Export<FARPROC>("ntdll.dll", "wine_get_version") != nullptr;
  return wine;
}

// The system timer's current period, µs; 15625 (the default) when the system will not say.
int64_t CurrentTimerPeriodUs() {
  static const TimerResolutionFunction query =
      Export<TimerResolutionFunction>("ntdll.dll", "NtQueryTimerResolution");
  ULONG coarsest = 0, finest = 0, current = 0;
  if (!query || query(&coarsest, &finest, &current) != 0 || current == 0) return 15625;
  return (static_cast<int64_t>(current) + 9) / 10;
}

class SystemEnvironment final : public StreamEnvironment {
 public:
  bool LoadConfiguration(config::StreamConfiguration& settings) override {
    return settings.LoadConfiguration(platform::OwnModule());
  }
  void ModuleDirectory(char (&dest)[platform::kMaxPath]) override {
    config::ModuleDirectory(dest, platform::OwnModule());
  }
  DWORD TickCount() override { return timeGetTime(); }
  int64_t PerformanceCounter() override {
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return count.QuadPart;
  }
  int64_t PerformanceFrequency() override {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
  }
  void SleepMs(DWORD milliseconds) override { Sleep(milliseconds); }
  void SleepUs(int64_t microseconds) override {
    if (microseconds <= 0) return;
    static const DelayFunction delay = Export<DelayFunction>("ntdll.dll", "NtDelayExecution");
    if (!delay) {
      Sleep(static_cast<DWORD>((microseconds + 999) / 1000));
      return;
    }
    LARGE_INTEGER interval;
    interval.QuadPart = -microseconds * 10;  // negative: relative
    delay(FALSE, &interval);
  }
  void SpinPause() override { YieldProcessor(); }
  // Locking would fault the pages in at once, but page locks do not nest: unlocking clears
  // another owner's lock on the pages the buffer shares with its neighbours. Under Wine the
  // prefetch is accepted and does nothing; the caller touches the pages all the same.
  void PrefetchPages(uint8_t* bytes, std::size_t size) override {
    static const PrefetchFunction prefetch =
        Export<PrefetchFunction>("kernel32.dll", "PrefetchVirtualMemory");
    if (size == 0 || !prefetch) return;
    MemoryRange range{bytes, size};
    prefetch(GetCurrentProcess(), 1, &range, 0);
  }
  int64_t ThreadCpuTime() override {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return -1;
    const auto ticks = [](const FILETIME& t) {
      return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) |
                                  t.dwLowDateTime);
    };
    return ticks(kernel) + ticks(user);
  }
  void BeginTimerPeriod(FineTimer& timer) override {
    timer = FineTimer{};
    if (UnderWine()) {
      timer.grain = {kWineGrainUs, kWineGrainUs};
      return;
    }
    timer.waitable = CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimer,
                                            TIMER_MODIFY_STATE | SYNCHRONIZE);
    if (timer.waitable) {
      // The other waits keep to the system's period, whoever set it.
      timer.grain = {kHighResolutionGrainUs, CurrentTimerPeriodUs()};
      return;
    }
    timer.period_raised = timeBeginPeriod(1) == TIMERR_NOERROR;
    const int64_t period = timer.period_raised ? kRaisedGrainUs : CurrentTimerPeriodUs();
    timer.grain = {period, period};
  }
  void EndTimerPeriod(FineTimer& timer) override {
    if (timer.waitable) CloseHandle(timer.waitable);
    if (timer.period_raised) timeEndPeriod(1);
    timer = FineTimer{};
  }
  void SleepFineUs(const FineTimer& timer, int64_t microseconds) override {
    if (microseconds <= 0) return;
    if (!timer.waitable) {
      SleepUs(microseconds);
      return;
    }
    LARGE_INTEGER due;
    due.QuadPart = -microseconds * 10;  // negative: relative
    if (!SetWaitableTimer(timer.waitable, &due, 0, nullptr, nullptr, FALSE) ||
        WaitForSingleObject(timer.waitable, INFINITE) != WAIT_OBJECT_0) {
      SleepUs(microseconds);
    }
  }
};

}  // namespace

StreamEnvironment& SystemStreamEnvironment() {
  static SystemEnvironment environment;
  return environment;
}

}  // namespace qp::stream
