#include "stream/stream_environment.h"

#include <mmsystem.h>

#include "config/module_directory.h"

namespace qp::stream {
namespace {

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
  void BeginTimerPeriod() override { timeBeginPeriod(1); }
  void EndTimerPeriod() override { timeEndPeriod(1); }
};

}  // namespace

StreamEnvironment& SystemStreamEnvironment() {
  static SystemEnvironment environment;
  return environment;
}

}  // namespace qp::stream
