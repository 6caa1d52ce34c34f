#include "recording_check.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "../qpcheck/report.h"
#include "avi_reader.h"
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
  settings.install_dir = options.install.empty() ? OwnFolder() : options.install;
  settings.preset = options.preset;
  settings.nominal_fps = reader.FramesPerSecond();
  qp::check::CheckSession session;
  if (!session.Open(settings, error)) return Fail(kExitCheckInput, "%s", error.c_str());

  qpcheck::Report report;
  report.recording = options.input;
  report.info.container = "avi";
  report.info.codec = "uncompressed";
  report.info.pixel_format = reader.format().PixelFormatName();
  report.info.width = reader.format().width;
  report.info.height = std::abs(reader.format().height);
  report.info.nominal_fps = reader.FramesPerSecond();
  report.info.frame_estimate = reader.frames();
  report.limits.max_missing = options.max_missing;
  report.limits.max_repeats = options.max_repeats;
  report.session = &session;

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

  report.analysis = session.Finish();
  const bool within = qpcheck::WithinLimits(report);
  qpcheck::WriteSummary(stdout, report);
  std::fflush(stdout);
  int code = within ? kExitOk : kExitCheckLimits;
  if (!options.csv.empty() && !qpcheck::WriteCsv(options.csv, report, error))
    code = Fail(kExitOutput, "%s", error.c_str());
  if (!options.json.empty() && !qpcheck::WriteJson(options.json, report, error))
    code = Fail(kExitOutput, "%s", error.c_str());
  if (!report.analysis.any_identified)
    return Fail(kExitCheckInput,
                "no frame's status line could be read in %s: not a recording of Quor Plemo, "
                "or of another INI's presets",
                options.input.c_str());
  return code;
}

}  // namespace qpcap
