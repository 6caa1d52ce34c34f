#include "report.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <memory>

#include "check/background_matcher.h"

namespace qpcheck {
namespace {

using qp::check::FrameKind;
using qp::check::FrameResult;
using qp::check::RecordingAnalysis;
using qp::check::Spread;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// A number for CSV and JSON: empty or null when unknown.
std::string Number(double value, const char* unknown, int decimals = 3) {
  if (!std::isfinite(value)) return unknown;
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string RangeText(const qp::check::LossRange& r) {
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

std::string JsonSpread(const Spread& s) {
  return "{\"count\": " + std::to_string(s.count) + ", \"mean\": " + Number(s.mean, "null") +
         ", \"min\": " + Number(s.min, "null") + ", \"max\": " + Number(s.max, "null") +
         ", \"stddev\": " + Number(s.stddev, "null") + ", \"p99\": " + Number(s.p99, "null") + "}";
}

// A single-quoted gnuplot string: quotes doubled.
std::string GnuplotQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string JsonEscape(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char code[8];
      std::snprintf(code, sizeof code, "\\u%04x", c);
      out += code;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool WithinLimits(Report& report) {
  report.exceeded.clear();
  const RecordingAnalysis& a = report.analysis;
  if (report.limits.max_missing >= 0 && a.missing > report.limits.max_missing)
    report.exceeded.push_back("missing frames " + std::to_string(a.missing) + ", more than " +
                              std::to_string(report.limits.max_missing));
  if (report.limits.max_repeats >= 0 && a.repeats > report.limits.max_repeats)
    report.exceeded.push_back("repeats " + std::to_string(a.repeats) + ", more than " +
                              std::to_string(report.limits.max_repeats));
  return report.exceeded.empty();
}

void WriteSummary(std::FILE* out, const Report& report) {
  const RecordingAnalysis& a = report.analysis;
  const RecordingInfo& info = report.info;
  const qp::check::CheckSession& session = *report.session;
  std::fprintf(out, "recording     %s (%s, %s %s %dx%d", report.recording.c_str(),
               info.container.c_str(), info.codec.c_str(), info.pixel_format.c_str(), info.width,
               info.height);
  if (info.nominal_fps > 0.0) std::fprintf(out, ", %.3f fps declared", info.nominal_fps);
  std::fprintf(out, ")\n");
  if (const qp::config::Preset* p = session.preset()) {
    const qp::check::PresetChoice& c = session.choice();
    std::fprintf(out, "preset        %d: %s, %.3f fps%s; header %s\n", c.index,
                 c.expected_header.c_str(), p->frame_time > 0 ? 1e7 / p->frame_time : 0.0,
                 c.scaled ? ", recording scaled" : "",
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
  const qp::check::ColourSummary& colour = session.colour();
  if (info.monochrome) {
    std::fprintf(out, "colour        none: the recording is grey\n");
  } else if (colour.frames > 0) {
    std::fprintf(out, "colour        %s", qp::check::ColourHandlingName(colour.likely));
    if (colour.implied != qp::check::ColourHandling::Unknown)
      std::fprintf(out,
                   colour.matches ? " (as the source's format implies)"
                                  : " (the source's format implies %s)",
                   qp::check::ColourHandlingName(colour.implied));
    if (!info.declared_matrix.empty() || !info.declared_range.empty())
      std::fprintf(out, "; the recording declares %s%s%s", info.declared_matrix.c_str(),
                   info.declared_matrix.empty() || info.declared_range.empty() ? "" : " ",
                   info.declared_range.empty() ? "" : (info.declared_range + " range").c_str());
    std::fprintf(out, "\n");
  }
  if (report.decode_errors > 0)
    std::fprintf(out, "decoder       %" PRId64 " damaged packets skipped\n", report.decode_errors);
  for (const std::string& w : session.warnings())
    std::fprintf(out, "note          %s\n", w.c_str());
  if (report.exceeded.empty()) {
    std::fprintf(out, "result        within limits\n");
  } else {
    for (const std::string& e : report.exceeded)
      std::fprintf(out, "result        LIMIT EXCEEDED: %s\n", e.c_str());
  }
}

bool WriteCsv(const std::string& path, const Report& report, std::string& error) {
  File file(std::fopen(path.c_str(), "w"));
  if (!file) {
    error = "cannot write " + path;
    return false;
  }
  std::FILE* f = file.get();
  std::fprintf(f,
               "position,time_ms,kind,frame,placed,lost_before,drops,clock_ms,confidence,"
               "rejected,lag_ms,psnr_db\n");
  for (const FrameResult& r : report.analysis.results) {
    const bool read = r.frame >= 0;
    std::fprintf(f, "%" PRId64 ",%s,%s,%s,%s,%" PRId64 ",%s,%s,%.3f,%d,%s,%s\n", r.position,
                 Number(r.time_ms, "").c_str(), qp::check::KindName(r.kind),
                 read ? std::to_string(r.frame).c_str() : "",
                 r.placed >= 0 ? std::to_string(r.placed).c_str() : "", r.lost_before,
                 read ? std::to_string(r.drops).c_str() : "",
                 read && r.clock_known ? std::to_string(r.clock_ms).c_str() : "", r.confidence,
                 r.rejected ? 1 : 0, Number(r.lag_ms, "").c_str(), Number(r.psnr, "", 2).c_str());
  }
  if (std::fflush(f) != 0 || std::ferror(f)) {
    error = "cannot write " + path;
    return false;
  }
  return true;
}

bool WriteJson(const std::string& path, const Report& report, std::string& error) {
  File file(std::fopen(path.c_str(), "w"));
  if (!file) {
    error = "cannot write " + path;
    return false;
  }
  std::FILE* f = file.get();
  const RecordingAnalysis& a = report.analysis;
  const qp::check::CheckSession& session = *report.session;
  const qp::check::PresetChoice& choice = session.choice();
  const RecordingInfo& info = report.info;
  std::fprintf(f, "{\n  \"recording\": \"%s\",\n", JsonEscape(report.recording).c_str());
  std::fprintf(f,
               "  \"stream\": {\"container\": \"%s\", \"codec\": \"%s\", \"pixel_format\": "
               "\"%s\", \"width\": %d, \"height\": %d, \"declared_fps\": %s, "
               "\"decode_errors\": %" PRId64 ", \"converted_frames\": %" PRId64 "},\n",
               JsonEscape(info.container).c_str(), JsonEscape(info.codec).c_str(),
               JsonEscape(info.pixel_format).c_str(), info.width, info.height,
               Number(info.nominal_fps, "null").c_str(), report.decode_errors,
               report.converted_frames);
  std::fprintf(f,
               "  \"preset\": {\"index\": %d, \"header\": \"%s\", \"header_confirmed\": %s, "
               "\"header_read\": \"%s\", \"clock\": \"%s\", \"scaled\": %s, "
               "\"frame_time_ms\": %s},\n",
               choice.index, JsonEscape(choice.expected_header).c_str(),
               choice.header_confirmed ? "true" : "false", JsonEscape(choice.read_header).c_str(),
               JsonEscape(choice.clock_name).c_str(), choice.scaled ? "true" : "false",
               Number(a.frame_time_ms, "null", 4).c_str());
  std::fprintf(f,
               "  \"frames\": %" PRId64 ", \"read\": %" PRId64 ", \"unreadable\": %" PRId64
               ", \"inferred\": %" PRId64 ", \"rejected\": %" PRId64 ",\n",
               a.frames, a.read, a.unreadable, a.inferred, a.rejected);
  if (a.any_identified)
    std::fprintf(f, "  \"first_frame\": %" PRId64 ", \"last_frame\": %" PRId64 ",\n", a.first_frame,
                 a.last_frame);
  else
    std::fprintf(f, "  \"first_frame\": null, \"last_frame\": null,\n");
  std::fprintf(f, "  \"missing\": %" PRId64 ", \"longest_loss\": %" PRId64 ", \"losses\": [",
               a.missing, a.longest_loss);
  for (std::size_t i = 0; i < a.losses.size(); ++i)
    std::fprintf(f, "%s{\"first\": %" PRId64 ", \"last\": %" PRId64 ", \"lost\": %" PRId64 "}",
                 i == 0 ? "" : ", ", a.losses[i].first, a.losses[i].last, a.losses[i].lost);
  std::fprintf(f,
               "],\n  \"repeats\": %" PRId64 ", \"reorderings\": %" PRId64
               ", \"source_drops\": %" PRId64 ",\n",
               a.repeats, a.reorderings, a.source_drops);
  std::fprintf(f, "  \"intervals_ms\": %s,\n", JsonSpread(a.intervals).c_str());
  if (a.drift_known)
    std::fprintf(f, "  \"drift\": {\"ms\": %s, \"ppm\": %s},\n", Number(a.drift_ms, "null").c_str(),
                 Number(a.drift_ppm, "null", 1).c_str());
  else
    std::fprintf(f, "  \"drift\": null,\n");
  if (a.lag_known)
    std::fprintf(f, "  \"lag_ms\": %s,\n", JsonSpread(a.lag).c_str());
  else
    std::fprintf(f, "  \"lag_ms\": null, \"lag_note\": \"%s\",\n", JsonEscape(a.lag_note).c_str());
  std::fprintf(f, "  \"psnr_db\": %s,\n", JsonSpread(a.psnr).c_str());
  const qp::check::ColourSummary& colour = session.colour();
  std::fprintf(f,
               "  \"colour\": {\"frames\": %d, \"likely\": \"%s\", \"implied\": \"%s\", "
               "\"matches\": %s, \"declared_matrix\": \"%s\", \"declared_range\": \"%s\", "
               "\"grey\": %s},\n",
               colour.frames, qp::check::ColourHandlingName(colour.likely),
               qp::check::ColourHandlingName(colour.implied), colour.matches ? "true" : "false",
               JsonEscape(info.declared_matrix).c_str(), JsonEscape(info.declared_range).c_str(),
               info.monochrome ? "true" : "false");
  std::fprintf(f, "  \"warnings\": [");
  for (std::size_t i = 0; i < session.warnings().size(); ++i)
    std::fprintf(f, "%s\"%s\"", i == 0 ? "" : ", ", JsonEscape(session.warnings()[i]).c_str());
  std::fprintf(
      f, "],\n  \"limits\": {\"max_missing\": %s, \"max_repeats\": %s, \"exceeded\": [",
      report.limits.max_missing < 0 ? "null" : std::to_string(report.limits.max_missing).c_str(),
      report.limits.max_repeats < 0 ? "null" : std::to_string(report.limits.max_repeats).c_str());
  for (std::size_t i = 0; i < report.exceeded.size(); ++i)
    std::fprintf(f, "%s\"%s\"", i == 0 ? "" : ", ", JsonEscape(report.exceeded[i]).c_str());
  std::fprintf(f, "]}\n}\n");
  if (std::fflush(f) != 0 || std::ferror(f)) {
    error = "cannot write " + path;
    return false;
  }
  return true;
}

bool WritePlot(const std::string& path, const Report& report, std::string& error) {
  const RecordingAnalysis& a = report.analysis;
  if (!a.any_identified) {
    error = "no plot: no frame was identified";
    return false;
  }
  std::FILE* gnuplot = popen("gnuplot 2>&1", "w");
  if (gnuplot == nullptr) {
    error = "cannot start gnuplot for the plot";
    return false;
  }
  // One data block per mark; gnuplot wants at least one row in each it plots.
  const struct {
    const char* name;
    FrameKind kind;
  } marks[] = {{"after", FrameKind::AfterLoss},
               {"repeat", FrameKind::Repeat},
               {"reordered", FrameKind::Reordered},
               {"inferred", FrameKind::Inferred}};
  std::fprintf(gnuplot, "$received << EOD\n");
  for (const FrameResult& r : a.results)
    if (r.frame >= 0) std::fprintf(gnuplot, "%" PRId64 " %" PRId64 "\n", r.position, r.frame);
  std::fprintf(gnuplot, "EOD\n");
  std::string plots =
      "$received using 1:2 with linespoints lc rgb '#1f77b4' pt 7 ps 0.3 lw 1 "
      "title 'received frame number'";
  for (const auto& m : marks) {
    int64_t count = 0;
    std::fprintf(gnuplot, "$%s << EOD\n", m.name);
    for (const FrameResult& r : a.results)
      if (r.kind == m.kind)
        std::fprintf(gnuplot, "%" PRId64 " %" PRId64 "\n", r.position,
                     r.kind == FrameKind::Inferred ? r.placed : r.frame),
            ++count;
    std::fprintf(gnuplot, "EOD\n");
    if (count == 0) continue;
    if (m.kind == FrameKind::AfterLoss)
      plots += ", $after using 1:2 with points pt 9 ps 1.6 lc rgb '#d62728' title 'after a loss'";
    else if (m.kind == FrameKind::Repeat)
      plots += ", $repeat using 1:2 with points pt 5 ps 1.2 lc rgb '#9467bd' title 'repeat'";
    else if (m.kind == FrameKind::Reordered)
      plots += ", $reordered using 1:2 with points pt 11 ps 1.4 lc rgb '#ff7f0e' title 'reordered'";
    else
      plots +=
          ", $inferred using 1:2 with points pt 6 ps 0.8 lc rgb '#7f7f7f' "
          "title 'unreadable, placed by its gap'";
  }
  char title[512];
  std::snprintf(title, sizeof title,
                "%s: %" PRId64 " frames, %" PRId64 " missing, %" PRId64 " repeats, %" PRId64
                " reordered, %" PRId64 " unreadable",
                BaseName(report.recording).c_str(), a.frames, a.missing, a.repeats, a.reorderings,
                a.unreadable);
  // Below: the frame number less the position, which steps up by each loss and down by each
  // repeat, so that single frames show in recordings of any length.
  std::fprintf(gnuplot,
               "set terminal pngcairo size 1200,900 noenhanced font 'sans,10'\n"
               "set output %s\n"
               "set multiplot layout 2,1 title %s\n"
               "set key top left\n"
               "set grid\n"
               "set lmargin 12\n"
               "set ylabel 'frame number'\n"
               "plot %s, %" PRId64
               " + x with lines dt 2 lc rgb '#999999' "
               "title 'no loss from the first frame'\n"
               "set xlabel 'position in the recording'\n"
               "set ylabel 'frame number - position - first'\n"
               "plot $received using 1:($2-$1-%" PRId64
               ") with steps lc rgb '#1f77b4' "
               "title 'lost so far, less repeats'\n"
               "unset multiplot\n",
               GnuplotQuoted(path).c_str(), GnuplotQuoted(title).c_str(), plots.c_str(),
               a.first_frame, a.first_frame);
  const int status = pclose(gnuplot);
  if (status != 0) {
    error = "gnuplot could not draw " + path + " (is gnuplot installed?)";
    return false;
  }
  return true;
}

}  // namespace qpcheck
