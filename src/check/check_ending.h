// The end of a check, the same for every tool: finish the analysis, judge the limits, print
// the summary, write the files asked for. The tool maps the outcome to its own exit code.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "check/check_report.h"
#include "check/check_session.h"

namespace qp::check {

enum class CheckOutcome {
  kWithinLimits,
  kLimitExceeded,
  kOutputFailed,  // a file asked for could not be written
  kNoStatusLine,  // no frame was identified: not the source's frames, or another INI's
};

struct CheckEnding {
  CheckOutcome outcome = CheckOutcome::kWithinLimits;
  std::vector<std::string> errors;  // one message per file that could not be written
};

// `csv_path` and `json_path` may be empty: no such file. The summary goes to `summary`.
CheckEnding EndCheck(CheckSession& session, CheckReport& report, const std::string& csv_path,
                     const std::string& json_path, std::FILE* summary);

}  // namespace qp::check
