#include "check/check_report.h"

#include <algorithm>
#include <cinttypes>

#include "check/background_matcher.h"

namespace qp::check {
namespace {

std::string RangeText(const LossRange& r) {
  char text[96];
  if (r.first == r.last)
    std::snprintf(text, sizeof text, "%" PRId64, r.first);
  else if (r.lost == r.last - r.first + 1)
    std::snprintf(text, sizeof text, "%" PRId64 "-%" PRId64, r.first, r.last);
  else
    std::snprintf(text, sizeof text, "%" PRId64 " of %" PRId64 "-%" PRId64, r.lost, r.first,
                  r.last);
  return text;
}

void SpreadLine(std::FILE* out, const char* label, const Spread& s, const char* unit) {
  std::fprintf(out, "%-13s mean %.2f %s, min %.2f, max %.2f, sd %.2f, p99 %.2f\n", label, s.mean,
               unit, s.min, s.max, s.stddev, s.p99);
}

}  // namespace

void TakeSession(CheckSession& session, CheckReport& report) {
  report.analysis = session.Finish();
  const config::Preset* preset = session.preset();
  report.preset_known = preset != nullptr;
  report.preset_fps = preset != nullptr && preset->frame_time > 0 ? 1e7 / preset->frame_time : 0.0;
  report.choice = session.choice();
  report.colour = session.colour();
  report.warnings = session.warnings();
}

void WriteSummary(std::FILE* out, const CheckReport& report) {
  const RecordingAnalysis& a = report.analysis;
  const RecordingInfo& info = report.info;
  std::fprintf(out, "recording     %s (%s, %s %s %dx%d", report.recording.c_str(),
               info.container.c_str(), info.codec.c_str(), info.pixel_format.c_str(), info.width,
               info.height);
  if (info.nominal_fps > 0.0) std::fprintf(out, ", %.3f fps declared", info.nominal_fps);
  std::fprintf(out, ")\n");
  if (report.preset_known) {
    const PresetChoice& c = report.choice;
    std::fprintf(out, "preset        %d: %s, %.3f fps%s; header %s\n", c.index,
                 c.expected_header.c_str(), report.preset_fps, c.scaled ? ", recording scaled" : "",
                 c.header_confirmed ? "confirmed" : "not recognised");
  }
  std::fprintf(out, "frames        %" PRId64 ": %" PRId64 " read, %" PRId64 " unreadable", a.frames,
               a.read, a.unreadable);
  if (a.inferred > 0) std::fprintf(out, " (%" PRId64 " placed by their gap)", a.inferred);
  if (a.rejected > 0) std::fprintf(out, ", %" PRId64 " readings set aside", a.rejected);
  std::fprintf(out, "\n");
  if (a.any_identified)
    std::fprintf(out, "numbers       %" PRId64 " to %" PRId64 "\n", a.first_frame, a.last_frame);
  std::fprintf(out, "missing       %" PRId64, a.missing);
  if (a.missing > 0) {
    std::fprintf(out, " in %zu run%s, longest %" PRId64 ":", a.losses.size(),
                 a.losses.size() == 1 ? "" : "s", a.longest_loss);
    const std::size_t shown = std::min<std::size_t>(a.losses.size(), 12);
    for (std::size_t i = 0; i < shown; ++i)
      std::fprintf(out, "%s %s", i == 0 ? "" : ",", RangeText(a.losses[i]).c_str());
    if (shown < a.losses.size()) std::fprintf(out, ", ...");
  }
  std::fprintf(out, "\nrepeats       %" PRId64 "\nreorderings   %" PRId64 "\n", a.repeats,
               a.reorderings);
  // The source counts a frame it filled a whole frame time late whatever held it, its
  // downstream (the application's graph) included: not necessarily its own fault.
  std::fprintf(out,
               "source drops  %" PRId64 " (frames the source filled more than a frame time late",
               a.source_drops);
  if (report.late.late >= 0)
    std::fprintf(
        out,
        "; by its own records %" PRId64 " late: %" PRId64 " held by the downstream, %" PRId64
        " by the system, %" PRId64 " by its composing)\n",
        report.late.late, report.late.downstream, report.late.system, report.late.composing);
  else
    std::fprintf(out, ", whatever held it: a downstream that held it counts too)\n");
  if (a.intervals.count > 0) {
    SpreadLine(out, "intervals", a.intervals, "ms");
    std::fprintf(out, "%-13s %.3f ms\n", "frame time", a.frame_time_ms);
  } else {
    std::fprintf(out, "intervals     no time stamps\n");
  }
  if (a.drift_known)
    std::fprintf(out, "drift         %+.1f ms from first to last frame, rate %+.0f ppm\n",
                 a.drift_ms, a.drift_ppm);
  if (a.lag_known)
    SpreadLine(out, "lag", a.lag, "ms");
  else
    std::fprintf(out, "lag           not measured: %s\n", a.lag_note.c_str());
  if (a.psnr.count > 0)
    std::fprintf(out, "background    PSNR mean %.1f dB, min %.1f dB over %" PRId64 " frames\n",
                 a.psnr.mean, a.psnr.min, a.psnr.count);
  const ColourSummary& colour = report.colour;
  if (info.monochrome) {
    std::fprintf(out, "colour        none: the recording is grey\n");
  } else if (colour.frames > 0) {
    std::fprintf(out, "colour        %s", ColourHandlingName(colour.likely));
    if (colour.implied != ColourHandling::Unknown)
      std::fprintf(out,
                   colour.matches ? " (as the source's format implies)"
                                  : " (the source's format implies %s)",
                   ColourHandlingName(colour.implied));
    if (!info.declared_matrix.empty() || !info.declared_range.empty())
      std::fprintf(out, "; the recording declares %s%s%s", info.declared_matrix.c_str(),
                   info.declared_matrix.empty() || info.declared_range.empty() ? "" : " ",
                   info.declared_range.empty() ? "" : (info.declared_range + " range").c_str());
    std::fprintf(out, "\n");
  }
  if (report.decode_errors > 0)
    std::fprintf(out, "decoder       %" PRId64 " damaged packets skipped\n", report.decode_errors);
  for (const std::string& w : report.warnings) std::fprintf(out, "note          %s\n", w.c_str());
  if (report.verdict.exceeded.empty()) {
    std::fprintf(out, "result        within limits\n");
  } else {
    for (const std::string& e : report.verdict.exceeded)
      std::fprintf(out, "result        LIMIT EXCEEDED: %s\n", e.c_str());
  }
}

}  // namespace qp::check
