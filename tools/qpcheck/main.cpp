// qpcheck: checks a recording of Quor Plemo's frames for what the recording application did
// to them. Exit codes: 0 within the limits, 1 a limit exceeded, 2 unreadable input, a usage
// error or an output that could not be written.
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "check/check_ending.h"
#include "check/check_options.h"
#include "check/check_session.h"
#include "check/report_plot.h"
#include "recording_reader.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitLimits = 1;
constexpr int kExitInput = 2;

const char kUsage[] =
    "usage: qpcheck RECORDING [options]\n"
    "Checks a recording of Quor Plemo's frames: lost, repeated and reordered frames, the\n"
    "regularity of the recording's time stamps, lag behind the source's clock, and the\n"
    "background and colours against the install folder's pictures.\n"
    "\n"
    "  --install DIR      install folder with QuorPlemo.ini and its pictures\n"
    "                     (default: the folder holding qpcheck, if it has QuorPlemo.ini)\n"
    "  --ini FILE         an INI file instead; its pictures are looked for beside it\n"
    "  --preset N         the preset the recording was made from, numbered as\n"
    "                     'qpcap formats' lists them (default: found from the frames)\n"
    "  --csv FILE         per-frame rows\n"
    "  --json FILE        the summary as JSON\n"
    "  --plot FILE.png    received frame number against position, losses and repeats marked\n"
    "  --max-missing N    exit 1 when more than N frames are missing\n"
    "  --max-repeats N    exit 1 when more than N frames are repeated\n"
    "  -h, --help         this text\n"
    "\n"
    "Exit codes: 0 within the limits, 1 a limit exceeded, 2 unreadable input or usage error.\n";

int Fail(int code, const std::string& message) {
  std::fprintf(stderr, "qpcheck: %s\n", message.c_str());
  return code;
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "qpcheck: %s\n(qpcheck --help for usage)\n", message.c_str());
  return kExitInput;
}

struct Options {
  std::string recording;
  qp::check::CheckOptions check;
};

constexpr uint32_t kCheckOptions = qp::check::kOptionInstall | qp::check::kOptionIni |
                                   qp::check::kOptionPreset | qp::check::kOptionCsv |
                                   qp::check::kOptionJson | qp::check::kOptionPlot |
                                   qp::check::kOptionMaxMissing | qp::check::kOptionMaxRepeats;

// 0 to go on, otherwise the exit code (with --help, kExitOk).
int ParseArguments(int argc, char** argv, Options& o, bool& help) {
  help = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      help = true;
      return kExitOk;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      std::string error;
      const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
      switch (qp::check::ParseCheckOption(arg, value, kCheckOptions, o.check, error)) {
        case qp::check::OptionParse::kTaken: ++i; continue;
        case qp::check::OptionParse::kBad: return UsageError(error);
        case qp::check::OptionParse::kNotMine: return UsageError("unknown option " + arg);
      }
    }
    if (!o.recording.empty()) return UsageError("one recording at a time: " + arg);
    o.recording = arg;
  }
  if (o.recording.empty()) return UsageError("no recording given");
  if (!o.check.install.empty() && !o.check.ini.empty())
    return UsageError("--install and --ini exclude each other");
  // The path is a line of gnuplot's script.
  if (o.check.plot.find_first_of("\r\n") != std::string::npos)
    return UsageError("--plot takes a file name without line breaks");
  return 0;
}

// Runs gnuplot on the plot's script.
bool DrawPlot(const std::string& path, const qp::check::CheckReport& report, std::string& error) {
  std::FILE* gnuplot = popen("gnuplot 2>&1", "w");
  if (gnuplot == nullptr) {
    error = "cannot start gnuplot for the plot";
    return false;
  }
  const std::string script = qp::check::PlotScript(report, path);
  std::fwrite(script.data(), 1, script.size(), gnuplot);
  if (pclose(gnuplot) != 0) {
    error = "gnuplot could not draw " + path + " (is gnuplot installed?)";
    return false;
  }
  return true;
}

// The folder holding this program, when it holds QuorPlemo.ini.
bool DefaultInstall(std::string& folder, std::string& error) {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) {
    error = "cannot tell where qpcheck lies; give --install DIR or --ini FILE";
    return false;
  }
  folder = self.parent_path().string();
  if (!std::filesystem::exists(self.parent_path() / "QuorPlemo.ini", ec)) {
    error = "no QuorPlemo.ini beside qpcheck in " + folder + "; give --install DIR or --ini FILE";
    return false;
  }
  return true;
}

class Progress {
 public:
  explicit Progress(int64_t expected) : expected_(expected), start_(Clock::now()), last_(start_) {
    tty_ = isatty(STDERR_FILENO) != 0;
  }
  void Update(int64_t frames) {
    const auto now = Clock::now();
    const double elapsed = Seconds(now - start_);
    // Short files print nothing; on a terminal the line is redrawn, elsewhere one per 10 s.
    if (elapsed < 2.0 || Seconds(now - last_) < (tty_ ? 0.5 : 10.0)) return;
    last_ = now;
    shown_ = true;
    char share[32] = "";
    if (expected_ > 0)
      std::snprintf(share, sizeof share, " of ~%" PRId64 " (%.0f%%)", expected_,
                    100.0 * static_cast<double>(frames) / static_cast<double>(expected_));
    std::fprintf(stderr, "%sqpcheck: %" PRId64 " frames%s, %.0f frames/s%s", tty_ ? "\r" : "",
                 frames, share, static_cast<double>(frames) / elapsed, tty_ ? "  " : "\n");
    std::fflush(stderr);
  }
  void Done(int64_t frames) {
    const double elapsed = Seconds(Clock::now() - start_);
    if (shown_ && tty_) std::fprintf(stderr, "\n");
    if (shown_)
      std::fprintf(stderr, "qpcheck: %" PRId64 " frames in %.1f s, %.0f frames/s\n", frames,
                   elapsed, elapsed > 0 ? static_cast<double>(frames) / elapsed : 0.0);
  }

 private:
  using Clock = std::chrono::steady_clock;
  static double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }
  int64_t expected_;
  Clock::time_point start_, last_;
  bool tty_ = false;
  bool shown_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  bool help = false;
  if (const int rc = ParseArguments(argc, argv, options, help); rc != 0 || help) {
    if (help) std::fputs(kUsage, stdout);
    return rc;
  }
  av_log_set_level(AV_LOG_ERROR);

  std::string error;
  const qp::check::CheckOptions& check = options.check;
  qp::check::SessionSettings settings;
  if (!check.ini.empty()) {
    settings.ini_path = check.ini;
  } else if (!check.install.empty()) {
    settings.install_dir = check.install;
  } else if (!DefaultInstall(settings.install_dir, error)) {
    return Fail(kExitInput, error);
  }
  settings.preset = check.preset;

  qpcheck::RecordingReader reader;
  if (!reader.Open(options.recording, error)) return Fail(kExitInput, error);
  settings.nominal_fps = reader.info().nominal_fps;

  qp::check::CheckSession session;
  if (!session.Open(settings, error)) return Fail(kExitInput, error);

  qp::check::CheckReport report;
  report.recording = options.recording;
  report.limits = check.limits;

  Progress progress(reader.info().frame_estimate);
  qpcheck::DecodedFrame frame;
  int64_t frames = 0;
  for (;;) {
    if (!reader.Next(frame, error)) {
      if (!error.empty()) return Fail(kExitInput, options.recording + ": " + error);
      break;
    }
    if (!session.AddFrame(frame.view, frame.time_ms, error))
      return Fail(kExitInput, options.recording + ": " + error);
    if (frame.converted) ++report.converted_frames;
    progress.Update(++frames);
  }
  progress.Done(frames);
  report.decode_errors = reader.decode_errors();
  report.info = reader.info();  // with what the frames declared of their colours
  if (frames == 0) return Fail(kExitInput, "no frame could be decoded from " + options.recording);

  const qp::check::CheckEnding ending =
      qp::check::EndCheck(session, report, check.csv, check.json, stdout);
  for (const std::string& e : ending.errors) Fail(kExitInput, e);
  switch (ending.outcome) {
    case qp::check::CheckOutcome::kNoStatusLine:
      return Fail(kExitInput, "no frame's status line could be read in " + options.recording +
                                  ": not a recording of Quor Plemo, or of another INI's presets");
    case qp::check::CheckOutcome::kOutputFailed: return kExitInput;
    case qp::check::CheckOutcome::kLimitExceeded:
    case qp::check::CheckOutcome::kWithinLimits: break;
  }
  if (!check.plot.empty() && !DrawPlot(check.plot, report, error)) return Fail(kExitInput, error);
  return ending.outcome == qp::check::CheckOutcome::kWithinLimits ? kExitOk : kExitLimits;
}
