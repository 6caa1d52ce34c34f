#include "measurement.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "frame_csv.h"
#include "frame_statistics.h"
#include "tool_status.h"

namespace qpcap {
namespace {

// Kernel plus user time of this process, 100 ns.
int64_t ProcessCpuTime() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  auto value = [](const FILETIME& t) {
    return (int64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return value(kernel) + value(user);
}

// Records every frame until window_ticks have passed since the first arrival; the frame that
// arrives after the window closes it and is not counted. Streaming thread only, until done.
class MeasureSink : public FrameSink {
 public:
  void Prepare(int64_t window_ticks, size_t capacity) {
    window_ticks_ = window_ticks;
    frames_.reserve(capacity);
  }

  bool OnFrame(const Arrival& arrival) override {
    if (frames_.empty())
      cpu_start_ = ProcessCpuTime();
    else if (arrival.arrival_ticks - frames_.front().arrival_ticks >= window_ticks_) {
      Close(arrival.arrival_ticks);
      return true;
    }
    FrameRecord record;
    REFERENCE_TIME start = 0, stop = 0;
    record.stamped = arrival.sample->GetTime(&start, &stop) == S_OK;
    record.start = start;
    record.stop = stop;
    record.arrival_ticks = arrival.arrival_ticks;
    record.stream_time = arrival.stream_time;
    frames_.push_back(record);
    // A frame rate far above the announced one: stop rather than allocate on this thread.
    if (frames_.size() == frames_.capacity()) {
      Close(arrival.arrival_ticks);
      return true;
    }
    return false;
  }

  // After the run, on the control thread; closes the window if the stream stalled.
  void Finish(int64_t now_ticks) {
    if (!closed_ && !frames_.empty()) Close(now_ticks);
  }

  const std::vector<FrameRecord>& frames() const { return frames_; }
  int64_t cpu_time() const { return cpu_end_ - cpu_start_; }
  int64_t window_ticks() const {
    return window_end_ - (frames_.empty() ? 0 : frames_.front().arrival_ticks);
  }

 private:
  void Close(int64_t now_ticks) {
    cpu_end_ = ProcessCpuTime();
    window_end_ = now_ticks;
    closed_ = true;
  }

  int64_t window_ticks_ = 0;
  std::vector<FrameRecord> frames_;
  int64_t cpu_start_ = 0, cpu_end_ = 0, window_end_ = 0;
  bool closed_ = false;
};

// Keeps the arrival of the first frame only.
class FirstFrameSink : public FrameSink {
 public:
  bool OnFrame(const Arrival& arrival) override {
    arrival_ticks_ = arrival.arrival_ticks;
    return true;
  }
  int64_t arrival_ticks() const { return arrival_ticks_; }

 private:
  int64_t arrival_ticks_ = 0;
};

}  // namespace

int RunStartup(const CommandOptions& options) {
  const int runs = std::max(options.frame, 1);
  std::vector<double> totals;
  for (int i = 0; i < runs; ++i) {
    FirstFrameSink sink;
    Capture capture;
    int status = SetUpCapture(options, &sink, capture);
    if (status != kExitOk) return status;
    if (i == 0) PrintCaptureHeader("start-up of", capture);
    CaptureSession::RunEnd end;
    if ((status = capture.session.Run(options.seconds, nullptr, end)) != kExitOk) return status;
    if (end != CaptureSession::RunEnd::kSinkDone)
      return Fail(kExitStreamFault, "run %d: no sample within %.1f s", i + 1, options.seconds);
    const double ms = 1000.0 / double(capture.session.ticks_per_second());
    const CaptureSession& session = capture.session;
    const double total = double(sink.arrival_ticks() - session.pause_ticks()) * ms;
    std::printf("run %-3d pause to first sample %.2f ms (pause %.2f ms, run to sample %.2f ms)\n",
                i + 1, total, double(session.run_ticks() - session.pause_ticks()) * ms,
                double(sink.arrival_ticks() - session.run_ticks()) * ms);
    totals.push_back(total);
  }
  std::sort(totals.begin(), totals.end());
  std::printf("start-up             median %.2f ms, min %.2f ms, max %.2f ms over %d runs\n",
              Percentile(totals, 0.5), totals.front(), totals.back(), runs);
  return kExitOk;
}

int RunMeasure(const CommandOptions& options) {
  MeasureSink sink;
  Capture capture;
  int status = SetUpCapture(options, &sink, capture);
  if (status != kExitOk) return status;
  // Opened before the run, so an unwritable path fails before ten seconds are spent.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> csv(nullptr, std::fclose);
  if (!options.csv.empty()) {
    csv.reset(std::fopen(options.csv.c_str(), "wb"));
    if (!csv)
      return Fail(kExitOutput, "cannot write %s: %s", options.csv.c_str(), std::strerror(errno));
  }
  const VideoFormat& format = capture.session.connected_format();
  const double rate = format.FramesPerSecond() > 0 ? format.FramesPerSecond() : 240.0;
  const int64_t ticks = capture.session.ticks_per_second();
  sink.Prepare(int64_t(options.seconds * double(ticks)), size_t(options.seconds * rate * 4) + 64);
  PrintCaptureHeader("measuring", capture);

  auto progress = [&](double elapsed) {
    if (!options.quiet) std::fprintf(stderr, "\r  %5.1f s", elapsed);
  };
  CaptureSession::RunEnd end;
  // A few seconds beyond the window for the first frame to come; a stall ends the run there.
  status = capture.session.Run(options.seconds + 5.0, progress, end);
  if (!options.quiet) std::fputs("\r          \r", stderr);
  if (status != kExitOk) return status;
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  sink.Finish(now.QuadPart);

  const FrameStatistics stats = ComputeStatistics(sink.frames(), ticks);
  const double window = double(sink.window_ticks()) / double(ticks);
  std::printf("window               %.2f s of wall time%s\n", window,
              end == CaptureSession::RunEnd::kSinkDone ? "" : " (the stream stopped early)");
  std::printf("frames received      %lld (%.1f expected at %.2f fps)\n", (long long)stats.frames,
              window * format.FramesPerSecond(), format.FramesPerSecond());
  if (stats.Continuous())
    std::printf("time stamps          continuous: every start = previous stop, %.3f s of stream\n",
                stats.stream_seconds);
  else
    std::printf(
        "time stamps          NOT continuous: %lld breaks (first at frame %lld), %lld unstamped\n",
        (long long)stats.breaks, (long long)stats.first_break, (long long)stats.unstamped);
  std::printf("arrival interval     median %.2f ms, 99th percentile %.2f ms, max %.2f ms\n",
              stats.interval.median, stats.interval.p99, stats.interval.max);
  std::printf(
      "lateness             median %.2f ms, 99th percentile %.2f ms, max %.2f ms, min %.2f ms\n",
      stats.lateness.median, stats.lateness.p99, stats.lateness.max, stats.lateness.min);
  if (stats.stream_seconds > 0) {
    const double cpu_ms = double(sink.cpu_time()) / 1e4 / stats.stream_seconds;
    std::printf("process CPU          %.1f ms per second of stream (%.1f %% of one core)\n", cpu_ms,
                cpu_ms / 10.0);
  }
  if (csv) {
    if (!WriteFrameCsv(csv.get(), sink.frames(), ticks))
      return Fail(kExitOutput, "writing %s failed", options.csv.c_str());
    std::printf("per-frame figures    %s\n", options.csv.c_str());
  }
  if (stats.frames == 0) return Fail(kExitStreamFault, "no frame arrived");
  return stats.Continuous() ? kExitOk : kExitStreamFault;
}

}  // namespace qpcap
