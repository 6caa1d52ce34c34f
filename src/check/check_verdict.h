// The limits a check is held to and what became of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "check/recording_analysis.h"

namespace qp::check {

struct CheckLimits {
  int64_t max_missing = -1;  // -1: no limit
  int64_t max_repeats = -1;
};

struct CheckVerdict {
  bool within = true;
  std::vector<std::string> exceeded;  // the limits broken, as sentences
};

CheckVerdict JudgeLimits(const RecordingAnalysis& analysis, const CheckLimits& limits);

}  // namespace qp::check
