// Stream start-up and shut-down, on the worker thread: the clock choice, the counters, the
// header line and the two pictures in the output format of the current preset.
#include <cstdio>

#include "frame/frame_plan.h"
#include "stream/video_stream_pin.h"
#include "synth/picture_cache.h"

namespace qp::stream {
namespace {

using framework::ScopedLock;

// <module directory>\<relative>, cut to the 259 characters a path may have. The relative path
// is appended as written, absolute or empty alike.
void PicturePath(const char* directory, const char* relative, char (&path)[platform::kMaxPath]) {
  std::snprintf(path, sizeof path, "%s\\%s", directory, relative);
}

// Start-up figures are real time even when a test drives the stream's clock.
int64_t RealCounter() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

int32_t RealUs(int64_t counts) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return frequency.QuadPart > 0 ? static_cast<int32_t>(counts * 1000000 / frequency.QuadPart) : -1;
}

}  // namespace

HRESULT VideoStreamPin::OnThreadStart() {
  // The thread serves one start after another: the totals count from this one.
  int64_t cpu = 0;
  thread_cpu_at_start_.store(ThreadCpuTime(cpu) ? cpu : 0);
  const int64_t begun = RealCounter();
  const HRESULT hr = StartStream();
  counters_.start_up_us.store(RealUs(RealCounter() - begun));
  return hr;
}

HRESULT VideoStreamPin::StartStream() {
  ScopedLock hold(stream_lock_);
  // Every wait may otherwise end up to a whole 15.6 ms tick late; held until OnThreadStop,
  // which the worker runs at every stop and after a failed start-up too, also when it keeps
  // its thread for the next start.
  if (!timer_period_held_) {
    environment_.BeginTimerPeriod(fine_timer_);
    timer_period_held_ = true;
  }
  sleep_late_ms_ = static_cast<double>(fine_timer_.grain.sleep_us) * 0.001;
  wait_late_ms_ = static_cast<double>(fine_timer_.grain.wait_us) * 0.001;

  media_time_ = 0;
  frame_count_ = 0;
  drop_count_ = 0;
  REFERENCE_TIME ignored = 0;
  use_cpu_clock_ = FAILED(services_.GetStreamTime(ignored)) || settings_.auto_clock == 0;

  counter_frequency_ = environment_.PerformanceFrequency();
  if (counter_frequency_ <= 0) counter_frequency_ = 1;
  started_at_ = environment_.PerformanceCounter();
  clock_origin_ms_ =
      static_cast<double>(started_at_) * 1000.0 / static_cast<double>(counter_frequency_);
  fps_base_count_ = 0;
  next_due_ms_ = 0.0;
  schedule_started_ = false;
  frame_zero_ready_ = false;
  run_origin_.store(0);
  fps_ = 0.0;
  fps_window_end_ms_ = 1000.0;

  // The pictures and the header follow the preset of this start-up; a later format change
  // takes effect at the next one.
  const config::Preset preset = CurrentPreset();
  frame::FormatHeaderLine(header_line_, preset, use_cpu_clock_);

  counters_.Reset();
  counters_.run_called_at.store(0);
  counters_.run_seen_at.store(0);
  counters_.first_stamped_at.store(0);
  previous_delivering_ = 0;
  cpu_read_at_ = 0;
  cpu_at_start_ = -1;
  previous_late_us_ = 0;
  previous_downstream_us_ = 0;
  previous_wake_late_us_ = 0;

  char directory[platform::kMaxPath];
  environment_.ModuleDirectory(directory);
  char path[platform::kMaxPath];
  PicturePath(directory, preset.bmp, path);
  if (!LoadPictureTimed(background_, path, preset.w, preset.h, preset, counters_.background_cached,
                        counters_.background_us) &&
      !background_.CreateBlank(preset.w, preset.h, preset.compression, preset.bit_count)) {
    return E_OUTOFMEMORY;
  }
  // No fallback: a stream cannot start without its glyph sheet.
  PicturePath(directory, preset.font, path);
  if (!LoadPictureTimed(font_, path, 0, 0, preset, counters_.glyphs_cached, counters_.glyphs_us))
    return E_OUTOFMEMORY;

  origin_y_ = frame::CentringOrigin(preset, background_.height());
  last_clock_ms_ = 0;
  OpenLatencyLog();
  return S_OK;
}

HRESULT VideoStreamPin::OnRun(REFERENCE_TIME start) {
  counters_.run_called_at.store(RealCounter());
  // Stream time 0 on the counter: `start` on the graph's clock may lie ahead of now.
  int64_t origin = environment_.PerformanceCounter();
  REFERENCE_TIME stream_time = 0;
  if (SUCCEEDED(services_.GetStreamTime(stream_time))) {
    const int64_t frequency = environment_.PerformanceFrequency();
    origin -= static_cast<int64_t>(static_cast<double>(stream_time) * 1e-7 *
                                   static_cast<double>(frequency > 0 ? frequency : 1));
  }
  run_origin_.store(origin != 0 ? origin : 1);
  return StreamPinBase::OnRun(start);
}

bool VideoStreamPin::LoadPictureTimed(synth::FrameImage& image, const char* path, int32_t width,
                                      int32_t height, const config::Preset& preset,
                                      std::atomic<int32_t>& cached, std::atomic<int32_t>& us) {
  const int64_t begun = RealCounter();
  const synth::PictureCache::Outcome outcome = synth::SharedPictureCache().Load(
      path, width, height, preset.compression, preset.bit_count, image);
  us.store(RealUs(RealCounter() - begun));
  cached.store(outcome == synth::PictureCache::Outcome::kFromCache ? 1 : 0);
  return outcome != synth::PictureCache::Outcome::kFailed;
}

void VideoStreamPin::OnActivated(const framework::ActivationTimes& times) {
  counters_.activate_us.store(times.activate_us);
  counters_.commit_us.store(times.commit_us);
  counters_.thread_us.store(times.thread_us);
  counters_.init_us.store(times.init_us);
}

void VideoStreamPin::ReadTotals(StreamTotals& totals) {
  counters_.ReadTotals(totals);
  int64_t cpu = 0;
  totals.worker_cpu100ns = ThreadCpuTime(cpu) ? cpu - thread_cpu_at_start_.load() : -1;
}

HRESULT VideoStreamPin::OnThreadStop() {
  ScopedLock hold(stream_lock_);
  latency_log_.Close();
  if (timer_period_held_) {
    environment_.EndTimerPeriod(fine_timer_);
    timer_period_held_ = false;
  }
  return S_OK;
}

}  // namespace qp::stream
