// The frame loop: waiting for the running state and the due time, composing the frame,
// stamping the sample and counting late frames. Worker thread, under stream_lock_.
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

#include "frame/frame_composition.h"
#include "frame/frame_layout.h"
#include "stream/video_media_type.h"
#include "stream/video_stream_pin.h"

namespace qp::stream {
namespace {

using framework::ScopedLock;

// No frame due within this long (tick-count ms, strictly more) ends the stream.
constexpr DWORD kGiveUpMs = 1000;
// Smallest page size of the processors the module runs on.
constexpr std::size_t kPageBytes = 4096;
// Brought in a piece at a time while paused, so that a Run is seen within a piece's time.
constexpr std::size_t kResidentPieceBytes = 32 * kPageBytes;
// How long after start-up the running state is polled finely.
constexpr int64_t kFinePollMs = 200;
// The longest single sleep of the wait for the due time: how late a stop may be seen once the
// wait has left the mailbox.
constexpr double kSleepPieceMs = 4.0;
// The mailbox wait aims to end this long before the due time on top of what it is expected to
// overrun; the busy wait takes over this much beyond the fine sleep's expected overrun.
constexpr double kMarginMs = 0.1;
// The busy wait at the end: at most this long per frame (a stalled clock must not burn a
// core), and only this close to the due time, whatever grid the timer keeps to.
constexpr double kSpinBudgetMs = 1.5;
constexpr double kShortestSleepMs = 0.001;
// Once the frame's busy wait is spent, the clock is looked at after sleeps at least this long.
constexpr double kSpentSleepMs = 1.0;
// The overruns learnt, as a percentile moving by a tenth of itself per wait; one overrun counts
// at most as a default timer period. The mailbox wait ending late makes the frame late, so it
// plans with a high percentile. A fine sleep ending early costs a busy wait, and under Wine the
// tail of its overruns is the system's load, not a grid: a busy wait would pay for that tail on
// every frame, so the sleeps plan with a lower one.
constexpr double kWaitQuantile = 0.95;
constexpr double kSleepQuantile = 0.75;
constexpr double kLateStep = 0.1;
constexpr double kMaxLateMs = 16.0;

// Moves `estimate` towards the `quantile` of the overruns it is shown.
void LearnLateness(double& estimate, double overrun_ms, double quantile) {
  if (overrun_ms < 0.0) overrun_ms = 0.0;
  if (overrun_ms > kMaxLateMs) overrun_ms = kMaxLateMs;
  const double step = kLateStep * (estimate + 0.05);  // never stuck at 0
  estimate += overrun_ms > estimate ? step * quantile : -step * (1.0 - quantile);
  if (estimate < 0.0) estimate = 0.0;
  if (estimate > kMaxLateMs) estimate = kMaxLateMs;
}

// What the composing of frame 0 while paused depends on besides the frame count.
bool SameComposition(const config::Preset& a, const config::Preset& b) {
  return a.w == b.w && a.h == b.h && a.compression == b.compression && a.bit_count == b.bit_count &&
         a.interlaced == b.interlaced && a.scroll_x == b.scroll_x && a.scroll_y == b.scroll_y;
}

// Low 32 bits of the whole part of `value`; 0 for readings no clock can give (NaN, ±inf,
// beyond int64), which would otherwise make the conversion undefined.
int32_t WholeMs(double value) {
  if (!(value > -9.0e18 && value < 9.0e18)) return 0;
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(value)));
}

// Counters run on past 2^31 frames by wrapping, as the platform's 32-bit counters do.
// Real time for the start-up figures, whatever clock a test gives the stream.
int64_t QpcNow() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

int32_t Wrapped(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

// True when the connection agreed on top-down rows: RGB with a negative biHeight. The 4:2:2
// formats are top-down whatever the sign. Read on the worker without the pin lock: the
// connection cannot change while the filter is started, and only then does the worker run.
bool TopDownConnection(framework::StreamServices& services, bool video_info2) {
  const BITMAPINFOHEADER* header = FormatBitmapHeader(services.ConnectionType(), video_info2);
  return header != nullptr && header->biCompression == BI_RGB && header->biHeight < 0;
}

// A picture built at start-up for another pixel format than the frame's (the preset changed
// since) would be copied byte for byte into the wrong layout.
bool PictureFits(const synth::FrameImage& image, const config::Preset& preset) {
  return image.Pixels() != nullptr && image.format() == preset.compression &&
         image.bytes_per_pixel() == preset.bit_count / 8;
}

}  // namespace

double VideoStreamPin::StreamClockMs() {
  if (use_cpu_clock_) {
    return static_cast<double>(environment_.PerformanceCounter()) * 1000.0 /
               static_cast<double>(counter_frequency_) -
           clock_origin_ms_;
  }
  REFERENCE_TIME time = 0;
  services_.GetStreamTime(time);  // a failed query reads as 0
  return static_cast<double>(static_cast<int32_t>(static_cast<uint64_t>(time / 10000)));
}

// The background and the header depend on the frame count alone, so they are painted before
// the wait for the due time (frame 0's while paused); only the status line, which shows the
// clock, is drawn after it. A frame already due when it begins is judged by the clock as it
// begins: its copy must not make it a drop.
HRESULT VideoStreamPin::FillSample(IMediaSample* sample) {
  if (sample == nullptr) return E_POINTER;
  ScopedLock hold(stream_lock_);

  BYTE* buffer = nullptr;
  HRESULT hr = sample->GetPointer(&buffer);
  if (FAILED(hr)) return hr;
  if (buffer == nullptr) return E_POINTER;
  const long reported = sample->GetSize();
  const std::size_t size = reported > 0 ? static_cast<std::size_t>(reported) : 0;

  hr = WaitUntilRunning(buffer, size);
  if (hr != S_OK) return hr;  // S_FALSE: a stop is posted; failures pass through

  // One whole preset for the whole frame, however SelectPreset races with it.
  const config::Preset preset = CurrentPreset();
  // Frame times of 0 or less make every frame due at once; sample times then stand still
  // rather than run backwards.
  const int64_t frame_time = preset.frame_time > 0 ? preset.frame_time : 0;

  synth::FrameBuffer frame;
  const bool top_down = TopDownConnection(services_, settings_.use_video_info_header2 != 0);
  const bool drawable = qp::frame::LayoutFrame(preset, top_down, buffer, size, frame);
  const bool first = !schedule_started_;
  if (first) StartSchedule();
  const double due_ms = next_due_ms_;
  const int64_t running = environment_.PerformanceCounter();
  double now = StreamClockMs();
  const bool due_on_entry = now >= due_ms;
  if (!(first && frame_zero_ready_ && SameComposition(frame_zero_preset_, preset)))
    Compose(preset, drawable, frame, buffer, size);
  frame_zero_ready_ = false;
  const int64_t composed = environment_.PerformanceCounter();

  if (!due_on_entry) {
    hr = WaitUntilDue(now);
    if (hr != S_OK) return hr;
  }
  AdvanceSchedule(now, static_cast<double>(frame_time) * 0.0001);
  MeasureRate(now);

  char status[qp::frame::kTextSize];
  qp::frame::FormatStatusLine(status, preset.w, frame_count_, drop_count_, WholeMs(now), fps_);
  if (drawable && PictureFits(font_, preset)) qp::frame::DrawStatus(font_, preset, frame, status);

  const int64_t start = media_time_;
  Stamp(sample, frame_time, static_cast<long>(size));
  // Read once the sample is stamped: its lateness covers the status line and the stamp.
  const int64_t stamped = environment_.PerformanceCounter();
  if (first) counters_.first_stamped_at.store(QpcNow());

  const double stamped_ms = StreamClockMs();
  const int32_t clock_ms = WholeMs(stamped_ms);
  // A closed log (no latency_log set) would drop the line: spare the formatting.
  if (latency_log_.IsOpen()) {
    char line[qp::frame::kTextSize];
    qp::frame::FormatLatencyLine(line, clock_ms, last_clock_ms_, start);
    latency_log_.Append(line);
  }

  // On the CPU clock the due time maps exactly onto the counter; the graph's clock is mapped
  // through the reading taken after the stamp.
  const double counts_per_ms = static_cast<double>(counter_frequency_) * 0.001;
  pending_.frame = static_cast<uint32_t>(frame_count_);
  pending_.due = use_cpu_clock_
                     ? static_cast<int64_t>((due_ms + clock_origin_ms_) * counts_per_ms)
                     : stamped - static_cast<int64_t>((stamped_ms - due_ms) * counts_per_ms);
  pending_.compose_counts = composed - running;
  pending_.wait_due_counts = stamped - composed;
  const bool ready_before_due = composed < pending_.due && stamped > pending_.due;
  pending_.wake_late_counts = ready_before_due ? stamped - pending_.due : 0;
  frame_time_us_ = static_cast<int32_t>(frame_time / 10 < INT32_MAX ? frame_time / 10 : INT32_MAX);

  frame_count_ = Wrapped(frame_count_ + int64_t{1});
  last_clock_ms_ = clock_ms;
  return S_OK;
}

void VideoStreamPin::Compose(const config::Preset& preset, bool drawable,
                             const synth::FrameBuffer& frame, uint8_t* buffer, std::size_t size) {
  if (!drawable || !PictureFits(background_, preset) ||
      !qp::frame::ComposeBackground(background_, preset, origin_y_, frame_count_, frame)) {
    // No usable background: black in RGB, zero luma and chroma in 4:2:2.
    std::memset(buffer, 0, size);
  }
  if (drawable && PictureFits(font_, preset))
    qp::frame::DrawHeader(font_, preset, frame, header_line_);
}

int32_t VideoStreamPin::CounterUs(int64_t counts) const {
  const double us = static_cast<double>(counts) * 1e6 / static_cast<double>(counter_frequency_);
  if (!(us < 2.0e9)) return INT32_MAX;
  if (!(us > -2.0e9)) return INT32_MIN;
  return static_cast<int32_t>(us);
}

// Lateness is split by who held the worker after the due time. Time the downstream held it
// (inside the previous Receive, inside the wait for a free buffer) is the downstream's; a frame
// begun behind schedule carries its predecessor's split for the part it inherited.
void VideoStreamPin::OnSampleDone(const framework::SampleTimes& times) {
  FrameTimes record{};
  record.frame = pending_.frame;
  record.wait_buffer_us = CounterUs(times.got - times.asked);
  record.compose_us = CounterUs(pending_.compose_counts);
  record.wait_due_us = CounterUs(pending_.wait_due_counts);
  record.deliver_us = CounterUs(times.delivered - times.delivering);
  record.wake_late_us = CounterUs(pending_.wake_late_counts);

  const int64_t due = pending_.due;
  int64_t carried = 0;
  int64_t since = due;
  if (previous_delivering_ != 0 && previous_delivering_ > due) {
    carried = previous_delivering_ - due;
    since = previous_delivering_;
  }
  // Only the time inside the downstream's calls: a gap between them, when the system gave the
  // worker no processor, is not the downstream's doing.
  const auto inside = [since](int64_t from, int64_t to) {
    if (from < since) from = since;
    return to > from ? to - from : int64_t{0};
  };
  const int64_t held =
      (previous_delivering_ != 0 ? inside(previous_delivering_, previous_delivered_) : int64_t{0}) +
      inside(times.asked, times.got);
  record.late_us = times.delivering > due ? CounterUs(times.delivering - due) : 0;
  int64_t downstream_us = CounterUs(held);
  int64_t wake_late_us = record.wake_late_us;
  if (carried > 0 && previous_late_us_ > 0) {
    const double inherited = static_cast<double>(CounterUs(carried)) / previous_late_us_;
    downstream_us += static_cast<int64_t>(inherited * previous_downstream_us_);
    wake_late_us += static_cast<int64_t>(inherited * previous_wake_late_us_);
  }
  record.downstream_us =
      static_cast<int32_t>(downstream_us < record.late_us ? downstream_us : record.late_us);
  const int32_t own = record.late_us - record.downstream_us;
  record.wake_late_us = static_cast<int32_t>(wake_late_us < own ? wake_late_us : own);
  record.worker_cpu_ms = ReadWorkerCpu(times.delivered);
  counters_.Add(record, frame_time_us_);

  previous_delivering_ = times.delivering;
  previous_delivered_ = times.delivered;
  previous_late_us_ = record.late_us;
  previous_downstream_us_ = record.downstream_us;
  previous_wake_late_us_ = record.wake_late_us;
}

// About once a second, and on the first frame: set against the composing time of the frames in
// between, it tells a stall in which the worker had no processor from one in which it worked.
// Reading it costs tens of µs, too much for every frame.
int32_t VideoStreamPin::ReadWorkerCpu(int64_t now) {
  if (cpu_read_at_ != 0 && now - cpu_read_at_ < counter_frequency_) return -1;
  const int64_t cpu = environment_.ThreadCpuTime();
  cpu_read_at_ = now;
  if (cpu < 0) return -1;
  if (cpu_at_start_ < 0) cpu_at_start_ = cpu;
  const int64_t ms = (cpu - cpu_at_start_) / 10000;
  return ms >= 0 && ms < INT32_MAX ? static_cast<int32_t>(ms) : -1;
}

// Applications run the graph right after pausing it: for the first moments after start-up
// the state is polled every 100 µs, so the first frame does not wait for a whole sleep of 1 ms.
// While paused the sample's pages are brought into memory (an allocator commits fresh memory
// at every start, and the first write to each page of a 1080p frame costs milliseconds), then
// frame 0 is composed: it depends on the frame count alone, and at 4K its copy alone would
// make it late.
HRESULT VideoStreamPin::WaitUntilRunning(uint8_t* buffer, std::size_t size) {
  frame_zero_ready_ = false;
  std::size_t resident = 0;
  for (;;) {
    FILTER_STATE state = State_Stopped;
    const HRESULT hr = services_.GetFilterState(0, state);
    if (FAILED(hr)) return hr;
    if (state == State_Running) {
      if (frame_count_ == 0 && counters_.run_seen_at.load() == 0) {
        counters_.run_seen_at.store(QpcNow());
        // What the pause left is brought in all the same: at once it costs less than a fault
        // a page while the frame is written.
        if (resident < size) MakeResident(buffer, resident, size);
      }
      return S_OK;
    }
    framework::StreamCommand command;
    if (services_.PeekCommand(command) && command == framework::CommandStop) return S_FALSE;
    if (resident < size) {
      // A piece at a time: a Run meanwhile must not wait for the rest.
      const std::size_t end =
          size - resident > kResidentPieceBytes ? resident + kResidentPieceBytes : size;
      MakeResident(buffer, resident, end);
      resident = end;
      continue;
    }
    if (frame_count_ == 0 && !schedule_started_ && !frame_zero_ready_) {
      frame_zero_preset_ = CurrentPreset();
      synth::FrameBuffer frame;
      const bool top_down = TopDownConnection(services_, settings_.use_video_info_header2 != 0);
      const bool drawable =
          qp::frame::LayoutFrame(frame_zero_preset_, top_down, buffer, size, frame);
      Compose(frame_zero_preset_, drawable, frame, buffer, size);
      frame_zero_ready_ = true;
      continue;
    }
    // On the fine timer: with only a high-resolution timer, other sleeps keep to 15.6 ms.
    const int64_t since_start = environment_.PerformanceCounter() - started_at_;
    environment_.SleepFineUs(fine_timer_,
                             since_start < counter_frequency_ * kFinePollMs / 1000 ? 100 : 1000);
  }
}

// A locked read-modify-write faults a page in as a write at once (a plain read would map a
// shared zero page first, then fault again on the write) and leaves the byte as it is.
void VideoStreamPin::MakeResident(uint8_t* buffer, std::size_t from, std::size_t end) {
  while (from < end) {
    const std::size_t piece = end - from > kResidentPieceBytes ? kResidentPieceBytes : end - from;
    environment_.PrefetchPages(buffer + from, piece);
    for (std::size_t page = from; page < from + piece; page += kPageBytes)
      __atomic_fetch_or(buffer + page, uint8_t{0}, __ATOMIC_RELAXED);
    from += piece;
  }
}

// Frame 0 is due at the run start: on the graph's clock stream time 0, on the CPU clock the
// counter at stream time 0 as OnRun saw it, not when the worker got round to the frame.
void VideoStreamPin::StartSchedule() {
  schedule_started_ = true;
  if (!use_cpu_clock_) {
    next_due_ms_ = 0.0;
    return;
  }
  int64_t origin = run_origin_.load();
  // A host that set the running state without a Run: from when the worker saw it.
  if (origin == 0) origin = environment_.PerformanceCounter();
  next_due_ms_ = static_cast<double>(origin) * 1000.0 / static_cast<double>(counter_frequency_) -
                 clock_origin_ms_;
}

// Waits on the command mailbox, which a command ends at once, until its grid's lateness before
// the due time; then sleeps on the fine timer in pieces of at most kSleepPieceMs, each aimed to
// end its own grid's lateness before the due time; the last stretch, at most kSpinBudgetMs a
// frame, is a busy wait. On a timer coarser than the busy wait, the frame is let go late by up to
// a tick rather than polled for a whole tick. Elapsed ticks are compared, not tick values, so the
// wait behaves across the 49.7-day wrap.
HRESULT VideoStreamPin::WaitUntilDue(double& now) {
  const DWORD start = environment_.TickCount();
  const bool fine_mailbox = services_.FineCommandWait();
  const double counts_per_ms = static_cast<double>(counter_frequency_) * 0.001;
  int64_t spin_from = -1;  // counter when this frame's busy wait began
  for (;;) {
    now = StreamClockMs();
    if (now >= next_due_ms_) return S_OK;
    const DWORD elapsed = static_cast<DWORD>(environment_.TickCount() - start);
    if (elapsed > kGiveUpMs) return S_FALSE;
    // Never past the give-up point by more than a tick.
    const double give_up_in = static_cast<double>(kGiveUpMs - elapsed) + 1.0;
    // A stop must not wait for a long frame time to pass; the command stays posted.
    framework::StreamCommand command;
    const bool posted = services_.PeekCommand(command);
    if (posted && command == framework::CommandStop) return S_FALSE;
    // The least time left: the graph's clock reads whole ms, so it shows the due time only from
    // the whole ms after it, up to a ms later than its reading says.
    const double left = use_cpu_clock_ ? next_due_ms_ - now : std::ceil(next_due_ms_) - now - 1.0;

    const double spin_within =
        sleep_late_ms_ + kMarginMs < kSpinBudgetMs ? sleep_late_ms_ + kMarginMs : kSpinBudgetMs;
    if (left <= spin_within) {
      const int64_t counter = environment_.PerformanceCounter();
      if (spin_from < 0) spin_from = counter;
      if (static_cast<double>(counter - spin_from) < kSpinBudgetMs * counts_per_ms) {
        environment_.SpinPause();
        continue;
      }
      // Spent: a clock that does not move is looked at between sleeps.
      SleepFine(left > kSpentSleepMs ? left : kSpentSleepMs, give_up_in);
      continue;
    }
    // Every wake-up costs processor time: one wait for nearly all of it. A wait on whole ms
    // may also end up to a ms early.
    double coarse = left - wait_late_ms_ - kMarginMs - (fine_mailbox ? 0.0 : 1.0);
    if (coarse > give_up_in) coarse = give_up_in;
    const int64_t asked =
        fine_mailbox ? static_cast<int64_t>(coarse * 1000.0) : static_cast<int64_t>(coarse) * 1000;
    if (!posted && asked > 0) {
      const int64_t before = environment_.PerformanceCounter();
      if (services_.WaitForCommand(asked, command)) {
        if (command == framework::CommandStop) return S_FALSE;
      } else {
        const double waited =
            static_cast<double>(environment_.PerformanceCounter() - before) / counts_per_ms;
        LearnLateness(wait_late_ms_, waited - static_cast<double>(asked) * 0.001, kWaitQuantile);
      }
      continue;
    }
    // Aimed to end its lateness before the due time; on a grid coarser than the busy wait, at
    // the first tick past the busy wait's reach.
    double piece = left - sleep_late_ms_;
    if (piece <= 0.0) piece = left - spin_within;
    SleepFine(piece < kSleepPieceMs ? piece : kSleepPieceMs, give_up_in);
  }
}

void VideoStreamPin::SleepFine(double ms, double give_up_in) {
  if (ms > give_up_in) ms = give_up_in;
  if (ms < kShortestSleepMs) ms = kShortestSleepMs;
  const int64_t asked = static_cast<int64_t>(ms * 1000.0);
  const int64_t before = environment_.PerformanceCounter();
  environment_.SleepFineUs(fine_timer_, asked);
  const double slept = static_cast<double>(environment_.PerformanceCounter() - before) * 1000.0 /
                       static_cast<double>(counter_frequency_);
  LearnLateness(sleep_late_ms_, slept - static_cast<double>(asked) * 0.001, kSleepQuantile);
}

// The schedule moves one frame time per frame from the previous due time, never from now, so
// a late stream catches up back to back; a frame already a whole frame time behind is a drop.
void VideoStreamPin::AdvanceSchedule(double now, double frame_ms) {
  next_due_ms_ += frame_ms;
  if (!(next_due_ms_ > now)) drop_count_ = Wrapped(drop_count_ + int64_t{1});
}

// Windows of at least 1000 ms, each opening at the frame that closed the previous one.
void VideoStreamPin::MeasureRate(double now) {
  if (fps_window_end_ms_ > now) return;
  fps_ = 0.0;
  const double elapsed = now - fps_window_end_ms_ + 1000.0;
  if (elapsed > 0.0) fps_ = static_cast<double>(frame_count_ - fps_base_count_) * 1000.0 / elapsed;
  fps_base_count_ = frame_count_;
  fps_window_end_ms_ = now + 1000.0;
}

// Sample times follow the frame count alone: [n·FT, (n+1)·FT), saturating rather than
// overflowing for absurd frame times.
void VideoStreamPin::Stamp(IMediaSample* sample, int64_t frame_time, long size) {
  REFERENCE_TIME start = media_time_;
  media_time_ = media_time_ > std::numeric_limits<int64_t>::max() - frame_time
                    ? std::numeric_limits<int64_t>::max()
                    : media_time_ + frame_time;
  REFERENCE_TIME stop = media_time_;
  sample->SetTime(&start, &stop);
  sample->SetSyncPoint(TRUE);
  sample->SetActualDataLength(size);
}

}  // namespace qp::stream
