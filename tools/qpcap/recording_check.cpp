#include "recording_check.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "avi_reader.h"
#include "check/check_ending.h"
#include "check/check_session.h"
#include "config/module_directory.h"
#include "tool_status.h"

namespace qpcap {
namespace {

// The install folder: where qpcap lies, beside the module and its INI file.
std::string OwnFolder() {
  char folder[qp::platform::kMaxPath];
  qp::config::ModuleDirectory(folder, qp::platform::OwnModule());
  return folder;
}

}  // namespace

int RunCheck(const CommandOptions& options) {
  std::string error;
  AviReader reader;
  if (!reader.Open(options.input, error)) return Fail(kExitCheckInput, "%s", error.c_str());

  qp::check::SessionSettings settings;
  const qp::check::CheckOptions& checking = options.checking;
  settings.install_dir = checking.install.empty() ? OwnFolder() : checking.install;
  settings.preset = checking.preset;
  settings.nominal_fps = reader.FramesPerSecond();
  qp::check::CheckSession session;
  if (!session.Open(settings, error)) return Fail(kExitCheckInput, "%s", error.c_str());

  qp::check::CheckReport report;
  report.recording = options.input;
  report.info.container = "avi";
  report.info.codec = "uncompressed";
  report.info.pixel_format = reader.format().PixelFormatName();
  report.info.width = reader.format().width;
  report.info.height = std::abs(reader.format().height);
  report.info.nominal_fps = reader.FramesPerSecond();
  report.info.frame_estimate = reader.frames();
  report.limits = checking.limits;

  for (int64_t i = 0; i < reader.frames(); ++i) {
    qp::check::FrameView view;
    double time_ms = 0.0;
    if (!reader.Read(i, view, time_ms, error)) return Fail(kExitCheckInput, "%s", error.c_str());
    if (!session.AddFrame(view, time_ms, error))
      return Fail(kExitCheckInput, "%s: %s", options.input.c_str(), error.c_str());
    if (!options.quiet && i % 50 == 49)
      std::fprintf(stderr, "\r  frames %lld of %lld ", (long long)(i + 1),
                   (long long)reader.frames());
  }
  if (!options.quiet && reader.frames() >= 50) std::fputc('\n', stderr);
  if (reader.frames() == 0)
    return Fail(kExitCheckInput, "%s holds no frames", options.input.c_str());

  const qp::check::CheckEnding ending =
      qp::check::EndCheck(session, report, checking.csv, checking.json, stdout);
  for (const std::string& e : ending.errors) Fail(kExitOutput, "%s", e.c_str());
  if (ending.outcome == qp::check::CheckOutcome::kNoStatusLine)
    return Fail(kExitCheckInput,
                "no frame's status line could be read in %s: not a recording of Quor Plemo, "
                "or of another INI's presets",
                options.input.c_str());
  return ExitCodeOf(ending.outcome);
}

}  // namespace qpcap
