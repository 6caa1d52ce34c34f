#include "check/report_files.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "check/background_matcher.h"

namespace qp::check {
namespace {

// Keys in the order a person reads them.
using Json = nlohmann::ordered_json;

// Empty when unknown, as the CSV leaves a cell.
std::string Cell(double value, int decimals = 3) {
  if (!std::isfinite(value)) return "";
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// To the digits the measurement has; null when unknown.
Json Rounded(double value, int decimals = 3) {
  if (!std::isfinite(value)) return nullptr;
  const double scale = std::pow(10.0, decimals);
  return std::round(value * scale) / scale;
}

Json SpreadJson(const Spread& s) {
  return {{"count", s.count},      {"mean", Rounded(s.mean)},     {"min", Rounded(s.min)},
          {"max", Rounded(s.max)}, {"stddev", Rounded(s.stddev)}, {"p99", Rounded(s.p99)}};
}

Json LimitJson(int64_t limit) { return limit < 0 ? Json(nullptr) : Json(limit); }

// "wb": no "\r" added on Windows.
bool WriteFile(const std::string& path, const std::string& text, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    error = "cannot write " + path;
    return false;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace

std::string ReportCsv(const CheckReport& report) {
  std::string csv =
      "position,time_ms,kind,frame,placed,lost_before,drops,clock_ms,confidence,rejected,lag_ms,"
      "psnr_db\n";
  char row[512];
  for (const FrameResult& r : report.analysis.results) {
    const bool read = r.frame >= 0;
    std::snprintf(row, sizeof row, "%" PRId64 ",%s,%s,%s,%s,%" PRId64 ",%s,%s,%.3f,%d,%s,%s\n",
                  r.position, Cell(r.time_ms).c_str(), KindName(r.kind),
                  read ? std::to_string(r.frame).c_str() : "",
                  r.placed >= 0 ? std::to_string(r.placed).c_str() : "", r.lost_before,
                  read ? std::to_string(r.drops).c_str() : "",
                  read && r.clock_known ? std::to_string(r.clock_ms).c_str() : "", r.confidence,
                  r.rejected ? 1 : 0, Cell(r.lag_ms).c_str(), Cell(r.psnr, 2).c_str());
    csv += row;
  }
  return csv;
}

std::string ReportJson(const CheckReport& report) {
  const RecordingAnalysis& a = report.analysis;
  const RecordingInfo& info = report.info;
  const PresetChoice& choice = report.choice;
  Json json;
  json["recording"] = report.recording;
  json["stream"] = {{"container", info.container},
                    {"codec", info.codec},
                    {"pixel_format", info.pixel_format},
                    {"width", info.width},
                    {"height", info.height},
                    {"declared_fps", info.nominal_fps > 0.0 ? Rounded(info.nominal_fps) : nullptr},
                    {"decode_errors", report.decode_errors},
                    {"converted_frames", report.converted_frames}};
  json["preset"] = {{"index", choice.index},
                    {"header", choice.expected_header},
                    {"header_confirmed", choice.header_confirmed},
                    {"header_read", choice.read_header},
                    {"clock", choice.clock_name},
                    {"scaled", choice.scaled},
                    {"frame_time_ms", Rounded(a.frame_time_ms, 4)}};
  json["frames"] = a.frames;
  json["read"] = a.read;
  json["unreadable"] = a.unreadable;
  json["inferred"] = a.inferred;
  json["rejected"] = a.rejected;
  json["first_frame"] = a.any_identified ? Json(a.first_frame) : Json(nullptr);
  json["last_frame"] = a.any_identified ? Json(a.last_frame) : Json(nullptr);
  json["missing"] = a.missing;
  json["longest_loss"] = a.longest_loss;
  Json losses = Json::array();
  for (const LossRange& r : a.losses)
    losses.push_back({{"first", r.first}, {"last", r.last}, {"lost", r.lost}});
  json["losses"] = std::move(losses);
  json["repeats"] = a.repeats;
  json["reorderings"] = a.reorderings;
  json["source_drops"] = a.source_drops;
  json["intervals_ms"] = SpreadJson(a.intervals);
  json["drift"] = a.drift_known
                      ? Json{{"ms", Rounded(a.drift_ms)}, {"ppm", Rounded(a.drift_ppm, 1)}}
                      : Json(nullptr);
  json["lag_ms"] = a.lag_known ? SpreadJson(a.lag) : Json(nullptr);
  if (!a.lag_known) json["lag_note"] = a.lag_note;
  json["psnr_db"] = SpreadJson(a.psnr);
  const ColourSummary& colour = report.colour;
  json["colour"] = {{"frames", colour.frames},
                    {"likely", ColourHandlingName(colour.likely)},
                    {"implied", ColourHandlingName(colour.implied)},
                    {"matches", colour.matches},
                    {"declared_matrix", info.declared_matrix},
                    {"declared_range", info.declared_range},
                    {"grey", info.monochrome}};
  json["warnings"] = report.warnings;
  json["limits"] = {{"max_missing", LimitJson(report.limits.max_missing)},
                    {"max_repeats", LimitJson(report.limits.max_repeats)},
                    {"exceeded", report.verdict.exceeded}};
  // Paths and texts read from frames may be any bytes.
  return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool WriteCsv(const std::string& path, const CheckReport& report, std::string& error) {
  return WriteFile(path, ReportCsv(report), error);
}

bool WriteJson(const std::string& path, const CheckReport& report, std::string& error) {
  return WriteFile(path, ReportJson(report), error);
}

}  // namespace qp::check
