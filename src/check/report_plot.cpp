#include "check/report_plot.h"

#include <cinttypes>
#include <cstdio>

namespace qp::check {
namespace {

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
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The text keeps to one line: a newline in a name would end the gnuplot command.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

void AppendRow(std::string& script, int64_t x, int64_t y) {
  char row[48];
  std::snprintf(row, sizeof row, "%" PRId64 " %" PRId64 "\n", x, y);
  script += row;
}

}  // namespace

std::string PlotScript(const CheckReport& report, const std::string& png_path) {
  const RecordingAnalysis& a = report.analysis;
  // One data block per mark; gnuplot wants at least one row in each it plots.
  const struct {
    const char* name;
    FrameKind kind;
    const char* style;
  } marks[] = {
      {"after", FrameKind::AfterLoss,
       "with points pt 9 ps 1.6 lc rgb '#d62728' title 'after a loss'"},
      {"repeat", FrameKind::Repeat, "with points pt 5 ps 1.2 lc rgb '#9467bd' title 'repeat'"},
      {"reordered", FrameKind::Reordered,
       "with points pt 11 ps 1.4 lc rgb '#ff7f0e' title 'reordered'"},
      {"inferred", FrameKind::Inferred,
       "with points pt 6 ps 0.8 lc rgb '#7f7f7f' title 'unreadable, placed by its gap'"}};
  std::string script = "$received << EOD\n";
  for (const FrameResult& r : a.results)
    if (r.frame >= 0) AppendRow(script, r.position, r.frame);
  script += "EOD\n";
  std::string plots =
      "$received using 1:2 with linespoints lc rgb '#1f77b4' pt 7 ps 0.3 lw 1 "
      "title 'received frame number'";
  for (const auto& m : marks) {
    int64_t count = 0;
    script += std::string("$") + m.name + " << EOD\n";
    for (const FrameResult& r : a.results) {
      if (r.kind != m.kind) continue;
      AppendRow(script, r.position, r.kind == FrameKind::Inferred ? r.placed : r.frame);
      ++count;
    }
    script += "EOD\n";
    if (count > 0) plots += std::string(", $") + m.name + " using 1:2 " + m.style;
  }
  char title[512];
  std::snprintf(title, sizeof title,
                "%s: %" PRId64 " frames, %" PRId64 " missing, %" PRId64 " repeats, %" PRId64
                " reordered, %" PRId64 " unreadable",
                OneLine(BaseName(report.recording)).c_str(), a.frames, a.missing, a.repeats,
                a.reorderings, a.unreadable);
  // Below: the frame number less the position, which steps up by each loss and down by each
  // repeat, so that single frames show in recordings of any length.
  const std::string first = std::to_string(a.first_frame);
  script +=
      "set terminal pngcairo size 1200,900 noenhanced font 'sans,10'\n"
      "set output " +
      GnuplotQuoted(png_path) +
      "\n"
      "set multiplot layout 2,1 title " +
      GnuplotQuoted(title) +
      "\n"
      "set key top left\n"
      "set grid\n"
      "set lmargin 12\n"
      "set ylabel 'frame number'\n"
      "plot " +
      plots + ", " + first +
      " + x with lines dt 2 lc rgb '#999999' title 'no loss from the first frame'\n"
      "set xlabel 'position in the recording'\n"
      "set ylabel 'frame number - position - first'\n"
      "plot $received using 1:($2-$1-" +
      first +
      ") with steps lc rgb '#1f77b4' title 'lost so far, less repeats'\n"
      "unset multiplot\n";
  return script;
}

}  // namespace qp::check
