#include "live_check.h"

#include <cstdio>

#include "../qpcheck/report.h"
#include "check/check_session.h"
#include "check/frame_view.h"
#include "config/module_directory.h"
#include "tool_status.h"

namespace qpcap {

struct LiveCheck::State {
  VideoFormat format;
  qp::check::CheckSession session;
  qpcheck::Report report;
  std::string error;  // the first frame the session refused
  int64_t unusable = 0;
};

LiveCheck::LiveCheck() = default;
LiveCheck::~LiveCheck() = default;

bool LiveCheck::Open(const CommandOptions& options, const VideoFormat& format, std::string& error) {
  state_ = std::make_unique<State>();
  state_->format = format;
  qp::check::SessionSettings settings;
  if (options.install.empty()) {
    char folder[qp::platform::kMaxPath];
    qp::config::ModuleDirectory(folder, qp::platform::OwnModule());
    settings.installDir = folder;
  } else {
    settings.installDir = options.install;
  }
  settings.preset = options.preset;
  settings.nominalFps = format.FramesPerSecond();
  if (!state_->session.Open(settings, error)) return false;
  qpcheck::Report& report = state_->report;
  report.recording = "the live stream";
  report.info.container = "live";
  report.info.codec = "uncompressed";
  report.info.pixelFormat = format.PixelFormatName();
  report.info.width = format.width;
  report.info.height = std::abs(format.height);
  report.info.nominalFps = format.FramesPerSecond();
  report.limits.maxMissing = options.maxMissing;
  report.limits.maxRepeats = options.maxRepeats;
  report.session = &state_->session;
  return true;
}

void LiveCheck::Add(IMediaSample* sample, double arrivalMs) {
  BYTE* data = nullptr;
  const long length = sample->GetActualDataLength();
  const VideoFormat& f = state_->format;
  qp::check::FrameView view;
  if (SUCCEEDED(sample->GetPointer(&data)) && length > 0)
    view = qp::check::ViewOfDib(data, std::size_t(length), f.width, f.height, f.compression,
                                f.bit_count);
  if (!qp::check::IsUsable(view)) {
    ++state_->unusable;
    return;
  }
  std::string error;
  if (!state_->session.AddFrame(view, arrivalMs, error) && state_->error.empty())
    state_->error = error;
}

int LiveCheck::Finish(const CommandOptions& options) {
  State& s = *state_;
  std::printf("\n");
  if (!s.error.empty()) return Fail(kExitCheckInput, "check: %s", s.error.c_str());
  if (s.session.frames() == 0)
    return Fail(kExitCheckInput, "check: no frame could be checked (%lld in a format it does not read)",
                (long long)s.unusable);
  s.report.analysis = s.session.Finish();
  const bool within = qpcheck::WithinLimits(s.report);
  qpcheck::WriteSummary(stdout, s.report);
  std::string error;
  if (!options.json.empty() && !qpcheck::WriteJson(options.json, s.report, error))
    return Fail(kExitOutput, "%s", error.c_str());
  if (!s.report.analysis.anyIdentified)
    return Fail(kExitCheckInput, "check: no frame's status line could be read");
  return within ? kExitOk : kExitCheckLimits;
}

}  // namespace qpcap
