// The video stream: paces, composes, stamps and counts frames on the worker thread, and
// answers the connection's media-type and buffer questions for its current preset and reports its
// capabilities (IAMStreamConfig, IKsPropertySet).
//
// Threads and locks:
// - worker thread: FillSample, OnThreadStart, OnThreadStop, each holding stream_lock_ for its
//   whole duration (sleeps included); never the pin lock (the FilterLock).
// - control threads: SetType, SizeBuffers under the pin lock (the FilterLock); none takes
//   stream_lock_.
// - any thread, including the worker when a downstream filter calls back from inside Receive:
//   GetOfferedType, CheckType, CurrentPreset / SelectPreset, IAMStreamConfig, IKsPropertySet.
//   None of them takes the FilterLock; the preset is read and replaced under preset_lock_.
// Order: FilterLock → stream_lock_ → preset_lock_ → the pin's connection lock. preset_lock_ is
// held only to copy the preset, to check a connection type against the preset and record it
// (SetType) or publish the connection with it (PublishPeer), or to look at the connection and
// choose a preset (SetFormat), so a format change never waits for a paused FillSample or for
// a control thread waiting for the worker.
#pragma once

#include <windows.h>

#include <strmif.h>

#include <cstdint>

#include "config/preset.h"
#include "config/stream_configuration.h"
#include "diag/latency_log.h"
#include "framework/critical_section.h"
#include "framework/stream_hooks.h"
#include "framework/stream_pin_base.h"
#include "frame/status_text.h"
#include "stream/stream_capabilities.h"
#include "stream/stream_environment.h"
#include "stream/worker_counters.h"

// winuser.h maps DrawText to DrawTextA; FrameImage's own member of that name is meant.
#undef DrawText

#include "synth/frame_buffer.h"
#include "synth/frame_image.h"

namespace qp::stream {

class VideoStreamPin : public framework::StreamPinBase,
                       public IAMStreamConfig,
                       public IKsPropertySet,
                       private StreamCapabilities::Pin {
 public:
  // On the control thread that creates the filter (FilterLock held). Attaches the pin to
  // `filter`, loads the configuration and takes preset 0. Sets *result to E_OUTOFMEMORY when
  // the pin cannot be attached or the presets cannot be had (the stream then holds an
  // all-zero preset that no start-up accepts); leaves it alone otherwise. `services` is what
  // the stream uses of the framework: the pin itself unless a test substitutes its own.
  VideoStreamPin(HRESULT* result, framework::SourceFilterBase* filter, const wchar_t* name,
                 StreamEnvironment& environment = SystemStreamEnvironment(),
                 framework::StreamServices* services = nullptr);
  ~VideoStreamPin() override;
  VideoStreamPin(const VideoStreamPin&) = delete;
  VideoStreamPin& operator=(const VideoStreamPin&) = delete;

  QP_IUNKNOWN_FORWARDED_TO_OWNER

  // IAMStreamConfig and IKsPropertySet, application threads: answered by capabilities_.
  HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE** type) override;
  HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* count, int* size) override;
  HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) override;
  HRESULT STDMETHODCALLTYPE Set(REFGUID set, DWORD id, void* instance, DWORD instance_size,
                                void* data, DWORD dataSize) override;
  HRESULT STDMETHODCALLTYPE Get(REFGUID set, DWORD id, void* instance, DWORD instance_size,
                                void* data, DWORD dataSize, DWORD* returned) override;
  HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

  // IQualityControl: quality messages are ignored; a synthetic source has nothing to drop.
  HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* sender, Quality quality) override;

  // StreamHooks, worker thread
  HRESULT FillSample(IMediaSample* sample) override;
  HRESULT OnThreadStart() override;
  HRESULT OnThreadStop() override;
  int64_t LoopClock() override { return environment_.PerformanceCounter(); }
  void OnSampleDone(const framework::SampleTimes& times) override;

  // StreamHooks, control threads
  HRESULT GetOfferedType(int32_t index, framework::MediaType* type) override;
  HRESULT CheckType(const framework::MediaType* type) override;
  HRESULT SetType(const framework::MediaType* type) override;
  HRESULT PublishPeer(IPin* peer) override;
  HRESULT SizeBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

  // The pacing clock in ms: the performance counter since start-up, or the graph's stream
  // time in whole ms (0 when it cannot be read). Worker thread.
  double StreamClockMs();

  // The preset the stream produces, copied whole. Any thread.
  config::Preset CurrentPreset() const override;
  void SelectPreset(const config::Preset& preset) override;
  // Read-only after construction.
  const config::StreamConfiguration& Settings() const { return settings_; }

  // Worker-thread state, for the worker or while no worker runs.
  int32_t frame_count() const { return frame_count_; }
  int32_t drop_count() const { return drop_count_; }
  bool use_cpu_clock() const { return use_cpu_clock_; }
  int32_t origin_y() const { return origin_y_; }
  const char* header_line() const { return header_line_; }
  diag::LatencyLog& latency_log() { return latency_log_; }

  // The worker's figures, for tools; any thread, no lock the worker takes.
  void ReadTotals(StreamTotals& totals);
  uint32_t ReadFrames(uint64_t first, FrameTimes* records, uint32_t capacity,
                      uint64_t* from) const {
    return counters_.ReadFrames(first, records, capacity, from);
  }

 protected:
  HRESULT InnerQueryInterface(REFIID iid, void** out) override;
  void OnActivated(const framework::ActivationTimes& times) override;
  // Control thread, FilterLock held: records the run start for the schedule.
  HRESULT OnRun(REFERENCE_TIME start) override;

 private:
  // StreamCapabilities::Pin
  framework::CriticalSection& FormatLock() override { return preset_lock_; }
  bool HasConnection() override { return IsConnected(); }

  // OnThreadStart's work, timed by it.
  HRESULT StartStream();
  // Reopens the latency log named by the settings, if any; stream_lock_ held.
  void OpenLatencyLog();
  // FillSample's parts; stream_lock_ held.
  // Brings the pages of `buffer` into memory while it waits, leaving the bytes as they are.
  // While paused, also composes frame 0 into `buffer` (see frame_zero_ready_).
  HRESULT WaitUntilRunning(uint8_t* buffer, std::size_t size);
  void MakeResident(uint8_t* buffer, std::size_t from, std::size_t end);
  // Frame 0's due time: the stream's run start.
  void StartSchedule();
  HRESULT WaitUntilDue(double& now);
  // Sleeps on the fine timer and learns how late it ended; `give_up_in` bounds it, ms.
  void SleepFine(double ms, double give_up_in);
  // Paints the background and the header line, or blanks the sample when it cannot.
  void Compose(const config::Preset& preset, bool drawable, const synth::FrameBuffer& frame,
               uint8_t* buffer, std::size_t size);
  // Loads one picture through the cache; false when it cannot be had. *cached and *us say how.
  bool LoadPictureTimed(synth::FrameImage& image, const char* path, int32_t width, int32_t height,
                        const config::Preset& preset, std::atomic<int32_t>& cached,
                        std::atomic<int32_t>& us);
  int32_t CounterUs(int64_t counts) const;
  // Worker thread: the worker's processor time in ms since the stream's first reading, when a
  // reading is due at counter value `now`; -1 otherwise.
  int32_t ReadWorkerCpu(int64_t now);
  void AdvanceSchedule(double now, double frame_ms);
  void MeasureRate(double now);
  void Stamp(IMediaSample* sample, int64_t frame_time, long size);

  framework::StreamServices& services_;  // this pin, or a test's stand-in that outlives it
  StreamEnvironment& environment_;

  framework::CriticalSection stream_lock_;
  mutable framework::CriticalSection preset_lock_;
  config::Preset current_preset_{};  // guarded by preset_lock_

  // Worker thread, under stream_lock_; reset by every start-up.
  int32_t frame_count_ = 0;
  int32_t drop_count_ = 0;
  int64_t media_time_ = 0;  // start of the next sample, 100 ns
  bool use_cpu_clock_ = false;
  int64_t counter_frequency_ = 1;
  bool schedule_started_ = false;  // false until frame 0 since start-up
  double next_due_ms_ = 0.0;
  double clock_origin_ms_ = 0.0;
  synth::FrameImage background_;  // in the start-up preset's pixel format
  synth::FrameImage font_;
  char header_line_[frame::kTextSize] = {};
  int32_t fps_base_count_ = 0;
  double fps_ = 0.0;
  double fps_window_end_ms_ = 0.0;
  int32_t origin_y_ = 0;
  int32_t last_clock_ms_ = 0;
  bool timer_period_held_ = false;  // a BeginTimerPeriod awaits its EndTimerPeriod
  StreamEnvironment::FineTimer fine_timer_;
  // How late the fine sleeps and the mailbox waits end, ms: running estimates of a percentile
  // of their overruns, starting from what the timer promised. On Windows they follow the
  // timer's grid.
  double sleep_late_ms_ = 0.1;
  double wait_late_ms_ = 0.1;
  // Frame 0 composed while paused, with these parts of the preset; false when not (yet).
  bool frame_zero_ready_ = false;
  config::Preset frame_zero_preset_{};

  // Worker thread: the frame in progress, from FillSample to OnSampleDone, in counter units.
  struct FrameInProgress {
    uint32_t frame = 0;
    int64_t compose_counts = 0;
    int64_t wait_due_counts = 0;
    int64_t due = 0;
    int64_t wake_late_counts = 0;
  } pending_;
  int64_t previous_delivering_ = 0;  // 0: no frame delivered since start-up
  int64_t previous_delivered_ = 0;
  int32_t previous_late_us_ = 0;
  int32_t previous_downstream_us_ = 0;
  int32_t previous_wake_late_us_ = 0;
  int32_t frame_time_us_ = 0;
  int64_t started_at_ = 0;  // counter at start-up: the first moments poll the state finely
  // The counter at stream time 0 of the latest run, set by OnRun; 0 before the first Run of
  // this start-up. Written by a control thread, read by the worker.
  std::atomic<int64_t> run_origin_{0};
  int64_t cpu_read_at_ = 0;    // counter at the last reading of the worker's processor
                               // time; 0 before the first
  int64_t cpu_at_start_ = -1;  // the first reading of this stream, 100 ns
  // The worker thread's processor time when this stream started, 100 ns; any thread reads it.
  std::atomic<int64_t> thread_cpu_at_start_{0};
  WorkerCounters counters_;

  // Loaded by the constructor; read-only afterwards, by any thread.
  config::StreamConfiguration settings_;
  StreamCapabilities capabilities_{settings_, *this};

  // Worker thread, under stream_lock_: opened by each start-up when the settings name it,
  // closed by OnThreadStop; a failed write drops lines and never the frame.
  diag::LatencyLog latency_log_;
};

}  // namespace qp::stream
