// Everything a check found, gathered for its outputs: the summary for a person written here,
// the files in report_files.h and the plot in report_plot.h. Plain data, so that the writers
// can be given a known report.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "check/check_session.h"
#include "check/check_verdict.h"
#include "check/recording_analysis.h"
#include "check/recording_info.h"

namespace qp::check {

// The source's own records of its late frames, when the checker runs beside it (qpcap's live
// check): who held each frame that left more than a frame time after it was due.
struct LateAccount {
  int64_t late = -1;  // -1: not known
  int64_t downstream = 0;
  int64_t system = 0;     // woken late, or without the processor while composing
  int64_t composing = 0;  // the source's own work
};

struct CheckReport {
  std::string recording;  // a path, or what the frames came from
  RecordingInfo info;
  int64_t decode_errors = 0;
  int64_t converted_frames = 0;
  // From the session, once its frames are in (TakeSession).
  bool preset_known = false;
  double preset_fps = 0.0;
  PresetChoice choice;
  ColourSummary colour;
  std::vector<std::string> warnings;
  RecordingAnalysis analysis;
  CheckLimits limits;
  CheckVerdict verdict;
  LateAccount late;
};

// Finishes the session's analysis and copies what the outputs tell of it into `report`.
void TakeSession(CheckSession& session, CheckReport& report);

void WriteSummary(std::FILE* out, const CheckReport& report);

}  // namespace qp::check
