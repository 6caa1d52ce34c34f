#include "measurement.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "frame_csv.h"
#include "live_check.h"
#include "frame_statistics.h"
#include "tool_status.h"
#include "worker_probe.h"
#include "worker_summary.h"

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
  void Prepare(int64_t window_ticks, size_t capacity, const WorkerProbe* probe, LiveCheck* check) {
    window_ticks_ = window_ticks;
    frames_.reserve(capacity);
    probe_ = probe;
    check_ = check;
  }

  bool OnFrame(const Arrival& arrival) override {
    if (frames_.empty()) {
      cpu_start_ = ProcessCpuTime();
      worker_cpu_start_ = WorkerCpuTime();
    } else if (arrival.arrival_ticks - frames_.front().arrival_ticks >= window_ticks_) {
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
    if (check_) check_->Add(arrival.sample, double(arrival.stream_time) / 1e4);
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
  // -1 when the source does not tell.
  int64_t worker_cpu_time() const {
    return worker_cpu_start_ < 0 || worker_cpu_end_ < 0 ? -1 : worker_cpu_end_ - worker_cpu_start_;
  }
  int64_t window_ticks() const {
    return window_end_ - (frames_.empty() ? 0 : frames_.front().arrival_ticks);
  }

 private:
  // The worker is the thread this runs on (the grabber calls back from inside Receive).
  int64_t WorkerCpuTime() const {
    qp::StreamTotals totals{};
    return probe_ && probe_->Totals(totals) ? totals.worker_cpu100ns : -1;
  }

  void Close(int64_t now_ticks) {
    cpu_end_ = ProcessCpuTime();
    worker_cpu_end_ = WorkerCpuTime();
    window_end_ = now_ticks;
    closed_ = true;
  }

  int64_t window_ticks_ = 0;
  std::vector<FrameRecord> frames_;
  int64_t cpu_start_ = 0, cpu_end_ = 0, window_end_ = 0;
  int64_t worker_cpu_start_ = -1, worker_cpu_end_ = -1;
  const WorkerProbe* probe_ = nullptr;
  LiveCheck* check_ = nullptr;
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

// Where the source's schedule starts against the graph's: stream time 0 is the moment the tool
// called Run, and the source paces every frame from the moment its worker saw the running state.
void PrintRunOrigin(const WorkerProbe& probe, const CaptureSession& session) {
  qp::StreamTotals t{};
  if (!probe.Totals(t) || t.run_called_at == 0 || t.run_seen_at == 0 || t.first_stamped_at == 0)
    return;
  const double ms = 1000.0 / double(session.ticks_per_second());
  const int64_t run = session.run_ticks();
  std::printf(
      "after the graph's Run  %.2f ms the source's Run, %.2f ms the worker saw it, "
      "%.2f ms frame 0 stamped\n",
      double(t.run_called_at - run) * ms, double(t.run_seen_at - run) * ms,
      double(t.first_stamped_at - run) * ms);
}

// The source's own view of the same frames: the first `frames` records are the ones the window
// received.
void PrintWorkerFigures(WorkerProbe& probe, const std::vector<FrameRecord>& frames,
                        const VideoFormat& format, double stream_seconds, int64_t worker_cpu,
                        const CaptureSession& session, LiveCheck* check) {
  const uint64_t lost = probe.Poll();
  PrintRunOrigin(probe, session);
  auto& records = probe.records();
  if (records.size() > frames.size()) records.resize(frames.size());
  // The same frames seen from both ends: what the tool's lateness has beyond the source's own.
  if (!lost && !records.empty()) {
    std::vector<double> gap;
    for (size_t i = 0; i < records.size(); ++i)
      if (frames[i].stamped)
        gap.push_back(double(frames[i].stream_time - frames[i].start) / 1e4 -
                      records[i].late_us / 1000.0);
    std::sort(gap.begin(), gap.end());
    if (!gap.empty())
      std::printf(
          "lateness minus the source's delivery after due: median %.2f ms, min %.2f ms, "
          "max %.2f ms\n",
          Percentile(gap, 0.5), gap.front(), gap.back());
  }
  const double frame_ms = format.FramesPerSecond() > 0 ? 1000.0 / format.FramesPerSecond() : 0;
  const WorkerSummary w = SummarizeWorker(records, frame_ms, 5);
  std::printf("worker records       %lld frames%s\n", (long long)w.frames,
              lost ? " (some dropped before they were read)" : "");
  if (w.frames > 0) {
    std::printf("delivery after due   median %.3f ms, 99th percentile %.3f ms, max %.2f ms\n",
                w.late.median, w.late.p99, w.late.max);
    std::printf("  source's part      median %.3f ms, 99th percentile %.3f ms, max %.2f ms\n",
                w.source_late.median, w.source_late.p99, w.source_late.max);
    std::printf(
        "late frames          %lld by the downstream, %lld woken late, %lld composing, "
        "%lld without the processor while composing (more than a frame time after due)\n",
        (long long)w.late_by_downstream, (long long)w.late_by_wake, (long long)w.late_by_compose,
        (long long)w.late_by_no_processor);
    if (check)
      check->SetLateAccount(
          w.late_by_downstream + w.late_by_wake + w.late_by_compose + w.late_by_no_processor,
          w.late_by_downstream, w.late_by_wake + w.late_by_no_processor, w.late_by_compose);
    std::printf(
        "worker per frame     buffer wait %.3f ms, compose %.3f ms, due wait %.3f ms, "
        "deliver %.3f ms (means)\n",
        w.wait_buffer_ms, w.compose_ms, w.wait_due_ms, w.deliver_ms);
    for (const Stall& stall : w.worst) {
      std::printf(
          "  late frame %-8u %.2f ms after due (downstream %.2f ms, late wake-up %.2f ms; "
          "buffer wait %.2f ms, previous delivery %.2f ms)",
          stall.frame, stall.late_ms, stall.downstream_ms, stall.wake_ms, stall.buffer_ms,
          stall.previous_deliver_ms);
      if (stall.no_processor_ms >= 0)
        std::printf(", no processor >= %.0f ms while composing", stall.no_processor_ms);
      std::printf("\n");
    }
  }
  if (worker_cpu >= 0 && stream_seconds > 0) {
    const double cpu_ms = double(worker_cpu) / 1e4 / stream_seconds;
    std::printf("worker thread CPU    %.1f ms per second of stream (%.1f %% of one core)\n", cpu_ms,
                cpu_ms / 10.0);
  }
}

// The source's own account of its last start-up, when it gives one.
void PrintSourceStartup(IBaseFilter* source) {
  WorkerProbe probe;
  qp::StreamTotals figures{};
  if (!probe.Attach(source) || !probe.Totals(figures)) return;
  const qp::StartupTimes& t = figures.startup;
  std::printf(
      "        source start-up %.2f ms: allocator commit %.2f, thread start %.2f, "
      "thread running %.2f, stream start-up %.2f (background %.2f%s, glyphs %.2f%s)\n",
      t.activate_us / 1000.0, t.commit_us / 1000.0, t.thread_us / 1000.0,
      (t.init_us - t.start_up_us) / 1000.0, t.start_up_us / 1000.0, t.background_us / 1000.0,
      t.background_cached ? " cached" : " converted", t.glyphs_us / 1000.0,
      t.glyphs_cached ? " cached" : " converted");
}

// Pause to the first sample of one run of a built session; false (status set) on failure.
bool TimeOneRun(Capture& capture, FirstFrameSink& sink, const CommandOptions& options,
                const char* what, int number, double& total, int& status) {
  CaptureSession::RunEnd end;
  if ((status = capture.session.Run(options.seconds, nullptr, end)) != kExitOk) return false;
  if (end != CaptureSession::RunEnd::kSinkDone) {
    status =
        Fail(kExitStreamFault, "%s %d: no sample within %.1f s", what, number, options.seconds);
    return false;
  }
  const double ms = 1000.0 / double(capture.session.ticks_per_second());
  const CaptureSession& session = capture.session;
  total = double(sink.arrival_ticks() - session.pause_ticks()) * ms;
  std::printf("%-7s %-3d pause to first sample %.2f ms (pause %.2f ms, run to sample %.2f ms)\n",
              what, number, total, double(session.run_ticks() - session.pause_ticks()) * ms,
              double(sink.arrival_ticks() - session.run_ticks()) * ms);
  PrintSourceStartup(capture.source.Get());
  WorkerProbe probe;
  if (probe.Attach(capture.source.Get())) PrintRunOrigin(probe, capture.session);
  return true;
}

}  // namespace

// Each run builds a new graph with a new filter; the restarts then stop and start the last
// graph again.
int RunStartup(const CommandOptions& options) {
  const int runs = std::max(options.frame, 1);
  std::vector<double> starts, restarts;
  FirstFrameSink sink;
  Capture last;
  for (int i = 0; i < runs; ++i) {
    Capture capture;
    int status = SetUpCapture(options, &sink, capture);
    if (status != kExitOk) return status;
    if (i == 0) PrintCaptureHeader("start-up of", capture);
    double total = 0;
    if (!TimeOneRun(capture, sink, options, "run", i + 1, total, status)) return status;
    starts.push_back(total);
    if (i + 1 == runs) {
      for (int r = 0; r < runs; ++r) {
        if (!TimeOneRun(capture, sink, options, "restart", r + 1, total, status)) return status;
        restarts.push_back(total);
      }
    }
  }
  std::sort(starts.begin(), starts.end());
  std::sort(restarts.begin(), restarts.end());
  std::printf("start-up             median %.2f ms, min %.2f ms, max %.2f ms over %d runs\n",
              Percentile(starts, 0.5), starts.front(), starts.back(), runs);
  std::printf("restart              median %.2f ms, min %.2f ms, max %.2f ms over %d runs\n",
              Percentile(restarts, 0.5), restarts.front(), restarts.back(), runs);
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
  WorkerProbe probe;
  probe.Attach(capture.source.Get());
  probe.records().reserve(size_t(options.seconds * rate * 2) + 64);
  std::unique_ptr<LiveCheck> check;
  if (options.check) {
    check = std::make_unique<LiveCheck>();
    // The format chosen is the preset: the checker then sets up before the run, not on the
    // stream's first frames.
    CommandOptions chosen = options;
    if (chosen.checking.preset < 0) chosen.checking.preset = capture.format_index;
    std::string error;
    if (!check->Open(chosen, format, error)) return Fail(kExitCheckInput, "%s", error.c_str());
  }
  sink.Prepare(int64_t(options.seconds * double(ticks)), size_t(options.seconds * rate * 4) + 64,
               &probe, check.get());
  PrintCaptureHeader("measuring", capture);

  auto progress = [&](double elapsed) {
    probe.Poll();
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
    if (check)
      std::printf(
          "                     (--check copies each frame on the streaming thread and\n"
          "                     reads it on one of its own: the process figure includes it)\n");
  }
  if (probe.attached())
    PrintWorkerFigures(probe, sink.frames(), format, stats.stream_seconds, sink.worker_cpu_time(),
                       capture.session, check.get());
  if (csv) {
    if (!WriteFrameCsv(csv.get(), sink.frames(), ticks))
      return Fail(kExitOutput, "writing %s failed", options.csv.c_str());
    std::printf("per-frame figures    %s\n", options.csv.c_str());
  }
  if (stats.frames == 0) return Fail(kExitStreamFault, "no frame arrived");
  if (!stats.Continuous()) return kExitStreamFault;
  return check ? check->Finish(options) : kExitOk;
}

}  // namespace qpcap
