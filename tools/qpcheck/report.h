// What qpcheck writes: the summary for a person, per-frame rows in CSV, the summary in JSON
// and the plot of received frame numbers drawn by gnuplot.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "check/check_session.h"
#include "check/recording_analysis.h"
#include "recording_reader.h"

namespace qpcheck {

struct Limits {
  int64_t max_missing = -1;  // -1: no limit
  int64_t max_repeats = -1;
};

// The source's own records of its late frames, when the checker runs beside it (qpcap's live
// check): who held each frame that left more than a frame time after it was due.
struct LateAccount {
  int64_t late = -1;  // -1: not known
  int64_t downstream = 0;
  int64_t system = 0;     // woken late, or without the processor while composing
  int64_t composing = 0;  // the source's own work
};

struct Report {
  std::string recording;
  RecordingInfo info;
  int64_t decode_errors = 0;
  int64_t converted_frames = 0;
  const qp::check::CheckSession* session = nullptr;
  qp::check::RecordingAnalysis analysis;
  Limits limits;
  LateAccount late;
  std::vector<std::string> exceeded;  // the limits broken, as sentences
};

// Fills report.exceeded; true when every limit holds.
bool WithinLimits(Report& report);

void WriteSummary(std::FILE* out, const Report& report);
// False with a message when the file cannot be written.
bool WriteCsv(const std::string& path, const Report& report, std::string& error);
bool WriteJson(const std::string& path, const Report& report, std::string& error);
bool WritePlot(const std::string& path, const Report& report, std::string& error);

// JSON string body for `text`: quotes, backslashes and control characters escaped.
std::string JsonEscape(const std::string& text);

}  // namespace qpcheck
