// Doubles for driving the video stream without the framework's pin, worker thread and filter,
// shared by the stream tests and tools/bench: a scratch folder for the settings and pictures
// (on the system's clocks, or on a clock the test controls), the framework's services with a
// filter state and a posted command the test sets, and a media sample whose buffer ends at an
// inaccessible page.
#pragma once

#include <windows.h>

#include <dshow.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "config/stream_configuration.h"
#include "framework/source_filter_base.h"
#include "framework/stream_hooks.h"
#include "stream/stream_environment.h"
#include "stream/video_stream_pin.h"
#include "support/temp_dir.h"

namespace qp::stream::test {

// Settings from `ini` (an INI file's text) and pictures from a scratch folder of its own; the
// clocks, sleeps and timers are the system's.
class ScratchEnvironment : public StreamEnvironment {
 public:
  explicit ScratchEnvironment(std::string ini = "") : ini_(std::move(ini)) {}
  virtual ~ScratchEnvironment() = default;

  bool LoadConfiguration(config::StreamConfiguration& settings) override {
    const std::string path = directory_.Write("QuorPlemo.ini", ini_);
    return settings.LoadConfigurationFrom(path.c_str());
  }
  void ModuleDirectory(char (&dest)[platform::kMaxPath]) override {
    lstrcpynA(dest, directory_.Path().string().c_str(), sizeof dest);
  }
  DWORD TickCount() override { return system_.TickCount(); }
  int64_t PerformanceCounter() override { return system_.PerformanceCounter(); }
  int64_t PerformanceFrequency() override { return system_.PerformanceFrequency(); }
  void SleepMs(DWORD milliseconds) override { system_.SleepMs(milliseconds); }
  void SleepUs(int64_t microseconds) override { system_.SleepUs(microseconds); }
  void SleepFineUs(const FineTimer& timer, int64_t microseconds) override {
    system_.SleepFineUs(timer, microseconds);
  }
  void SpinPause() override { system_.SpinPause(); }
  void PrefetchPages(uint8_t* bytes, std::size_t size) override {
    system_.PrefetchPages(bytes, size);
  }
  int64_t ThreadCpuTime() override { return system_.ThreadCpuTime(); }
  void BeginTimerPeriod(FineTimer& timer) override { system_.BeginTimerPeriod(timer); }
  void EndTimerPeriod(FineTimer& timer) override { system_.EndTimerPeriod(timer); }

  const qp::test::TempDir& Directory() const { return directory_; }

 private:
  std::string ini_;
  qp::test::TempDir directory_;
  StreamEnvironment& system_ = SystemStreamEnvironment();
};

// Time stands still except when the stream sleeps or waits (by the time slept), reads the
// performance counter (by `read_cost_us`, so that polling ends too) or pauses in a busy wait (by
// `pause_cost_us`). Reading and pausing count as spinning, in `spun_us`. Waits with a timeout
// end as on Windows' timer when a grid is set: at the first tick at or after their deadline,
// or, with `random_late`, late by up to a period at random. Counter unit: 1 µs.
class FakeEnvironment final : public ScratchEnvironment {
 public:
  explicit FakeEnvironment(std::string ini = "") : ScratchEnvironment(std::move(ini)) {}

  DWORD TickCount() override { return static_cast<DWORD>(tick_base + now_us / 1000); }
  int64_t PerformanceCounter() override {
    Spin(read_cost_us);
    return now_us;
  }
  int64_t PerformanceFrequency() override { return 1000000; }
  void SleepMs(DWORD milliseconds) override { SleepUs(int64_t{milliseconds} * 1000); }
  // Every sleep overruns by `overrun_us`, as a real one does, and ends on the sleep grid.
  void SleepUs(int64_t microseconds) override {
    now_us = WakeAt(now_us + (microseconds > 0 ? microseconds : 0) + overrun_us, sleep_grid_us);
    ++sleeps;
    if (on_sleep) on_sleep();
  }
  void SleepFineUs(const FineTimer& timer, int64_t microseconds) override {
    EXPECT_TRUE(timer.waitable == &fine_timer_mark);
    SleepUs(microseconds);
  }
  void SpinPause() override {
    ++pauses;
    Spin(pause_cost_us);
  }
  // Records each piece.
  void PrefetchPages(uint8_t* bytes, std::size_t size) override {
    resident_pieces.emplace_back(bytes, size);
    if (on_resident) on_resident();
  }
  int64_t ThreadCpuTime() override {
    ++cpu_readings;
    return thread_cpu_100ns;
  }
  // Promises the grids (or `promised`, when set): a system may grant a coarser one.
  void BeginTimerPeriod(FineTimer& timer) override {
    ++timer_periods_begun;
    timer.waitable = &fine_timer_mark;
    timer.grain = promised ? *promised
                           : TimerGrain{sleep_grid_us > 0 ? sleep_grid_us : 100,
                                        wait_grid_us > 0 ? wait_grid_us : 100};
  }
  void EndTimerPeriod(FineTimer& timer) override {
    ++timer_periods_ended;
    timer = FineTimer{};
  }

  // The end of a wait whose deadline is `deadline` on a grid of `grid` µs (0: none).
  int64_t WakeAt(int64_t deadline, int64_t grid) {
    if (grid <= 0) return deadline;
    if (random_late) return deadline + static_cast<int64_t>(random() % static_cast<uint64_t>(grid));
    return (deadline + grid - 1) / grid * grid;
  }
  void Spin(int64_t us) {
    now_us += us;
    spun_us += us;
    if (on_read) on_read();
  }

  double NowMs() const { return static_cast<double>(now_us) / 1000.0; }
  void Advance(double ms) { now_us += static_cast<int64_t>(ms * 1000.0); }

  int64_t now_us = 5000000;  // the counter does not start at 0
  int64_t read_cost_us = 10;
  int64_t overrun_us = 0;
  int64_t pause_cost_us = 1;
  int64_t sleep_grid_us = 0;
  int64_t wait_grid_us = 0;  // the command mailbox's
  bool random_late = false;
  std::mt19937_64 random{20260608};
  std::optional<TimerGrain> promised;
  int64_t spun_us = 0;
  int pauses = 0;
  uint32_t tick_base = 0;
  int sleeps = 0;
  int64_t thread_cpu_100ns = -1;
  std::vector<std::pair<uint8_t*, std::size_t>> resident_pieces;
  int cpu_readings = 0;
  int timer_periods_begun = 0;
  int timer_periods_ended = 0;
  std::function<void()> on_sleep;
  std::function<void()> on_resident;
  std::function<void()> on_read;  // after every reading of a clock and every pause
  char fine_timer_mark = 0;       // FineTimer::waitable of the timer Begin handed out
};

// The framework's side. The stream time, when the graph has a clock, is the fake clock minus
// `run_start_ms`; reading it costs time like reading the counter. Without a fake clock, waits
// for a command sleep for real and the graph has no clock.
class FakeServices final : public framework::StreamServices {
 public:
  FakeServices() = default;
  explicit FakeServices(FakeEnvironment& clock) : clock_(&clock) {}

  bool PeekCommand(framework::StreamCommand& command) override {
    if (!posted) return false;
    command = *posted;
    return true;
  }
  // Time passes a ms at a time until a command is posted (on_command_wait may post one) or the
  // timeout has passed, then overruns like a sleep and ends on the mailbox's grid.
  bool WaitForCommand(int64_t timeout_us, framework::StreamCommand& command) override {
    ++command_waits;
    if (clock_ == nullptr) {
      if (!PeekCommand(command)) Sleep(static_cast<DWORD>(timeout_us / 1000));
      return PeekCommand(command);
    }
    const int64_t deadline = clock_->now_us + timeout_us;
    for (int64_t waited = 0; waited < timeout_us;) {
      if (PeekCommand(command)) return true;
      const int64_t step = timeout_us - waited < 1000 ? timeout_us - waited : 1000;
      clock_->now_us += step;
      waited += step;
      if (on_command_wait) on_command_wait();
    }
    clock_->now_us = clock_->WakeAt(deadline + clock_->overrun_us, clock_->wait_grid_us);
    return PeekCommand(command);
  }
  bool FineCommandWait() override { return fine_command_wait; }
  HRESULT GetStreamTime(REFERENCE_TIME& time) override {
    if (!has_clock || clock_ == nullptr) return VFW_E_NO_CLOCK;
    clock_->Spin(clock_->read_cost_us);
    const double ms = stalled_at_ms ? *stalled_at_ms : clock_->NowMs() - run_start_ms;
    time = static_cast<REFERENCE_TIME>(ms * 10000.0);
    return S_OK;
  }
  HRESULT GetFilterState(DWORD, FILTER_STATE& current) override {
    current = state;
    return state_result;
  }
  framework::CriticalSection& PinLock() override { return lock_; }
  HRESULT SetConnectionType(const framework::MediaType& type) override {
    return connection_.Assign(type);
  }
  const framework::MediaType& ConnectionType() override { return connection_; }

  FILTER_STATE state = State_Running;
  HRESULT state_result = S_OK;
  bool fine_command_wait = false;
  std::optional<framework::StreamCommand> posted;
  bool has_clock = false;
  double run_start_ms = 0.0;
  std::optional<double> stalled_at_ms;  // the stream time stands still here
  int command_waits = 0;
  std::function<void()> on_command_wait;  // after every ms of a wait for a command

 private:
  FakeEnvironment* clock_ = nullptr;
  framework::CriticalSection lock_;
  framework::MediaType connection_;
};

// A sample over `size` bytes that end exactly where an inaccessible page begins, so a write
// past the end faults at once. Records what the stream sets; unused methods say E_NOTIMPL.
class FakeSample final : public IMediaSample {
 public:
  explicit FakeSample(long size, FakeEnvironment* clock = nullptr);
  ~FakeSample();
  FakeSample(const FakeSample&) = delete;
  FakeSample& operator=(const FakeSample&) = delete;

  uint8_t* Bytes() { return bytes_; }
  void Fill(uint8_t value);
  void Forget();  // clears the recorded calls

  // IUnknown: the test owns the object.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  // IMediaSample
  HRESULT STDMETHODCALLTYPE GetPointer(BYTE** buffer) override {
    *buffer = bytes_;
    return S_OK;
  }
  long STDMETHODCALLTYPE GetSize() override { return size_; }
  HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
  HRESULT STDMETHODCALLTYPE IsSyncPoint() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL sync) override {
    sync_point = sync;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsPreroll() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetPreroll(BOOL) override { return E_NOTIMPL; }
  long STDMETHODCALLTYPE GetActualDataLength() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetActualDataLength(long length) override {
    actual_length = length;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsDiscontinuity() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }

  // Recorded calls; `stamped_at_ms` is the fake clock when SetTime came.
  int set_time_calls = 0;
  REFERENCE_TIME start = -1;
  REFERENCE_TIME stop = -1;
  double stamped_at_ms = -1.0;
  std::optional<BOOL> sync_point;
  std::optional<long> actual_length;

 private:
  void* region_ = nullptr;
  uint8_t* bytes_ = nullptr;
  long size_ = 0;
  FakeEnvironment* clock_;
};

// An INI file with one enabled preset made of `keys` ("w=96\nh=60\n..."), and MAIN settings.
std::string OnePresetIni(const std::string& keys, const std::string& main = "");

// The glyph sheet every rig writes as font.bmp: 64 × 32, so cells of 2 × 2 pixels. A cell's
// colour depends on its column and on its row within a three-row band, not on the band, so a
// glyph looks the same in every colour.
std::vector<uint8_t> GlyphSheetBmp();

// Holds a stream the way its filter does; the stream under test talks to FakeServices, not
// to it. Declared before the stream, so the stream goes (and detaches) first.
class HostFilter final : public framework::SourceFilterBase {
 public:
  HostFilter() : SourceFilterBase(nullptr, GUID_NULL) {}
};

// A stream built from one preset (`keys`, with font=font.bmp already written), its fakes, and
// nothing started.
struct StreamRig {
  explicit StreamRig(const std::string& keys, const std::string& main = "");
  // OnThreadStart; EXPECTs S_OK.
  void Start();
  std::string WriteFile(const std::string& name, const std::vector<uint8_t>& bytes);

  FakeEnvironment env;
  FakeServices services{env};
  HRESULT created = S_OK;
  HostFilter host;
  std::unique_ptr<VideoStreamPin> pin;
};

}  // namespace qp::stream::test
