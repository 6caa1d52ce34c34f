#include "check/check_ending.h"

#include "check/report_files.h"

namespace qp::check {

CheckEnding EndCheck(CheckSession& session, CheckReport& report, const std::string& csv_path,
                     const std::string& json_path, std::FILE* summary) {
  TakeSession(session, report);
  report.verdict = JudgeLimits(report.analysis, report.limits);
  WriteSummary(summary, report);
  std::fflush(summary);

  CheckEnding ending;
  std::string error;
  if (!csv_path.empty() && !WriteCsv(csv_path, report, error)) ending.errors.push_back(error);
  if (!json_path.empty() && !WriteJson(json_path, report, error)) ending.errors.push_back(error);
  // Files are written even then: they show what was read, which tells what went wrong.
  if (!report.analysis.any_identified)
    ending.outcome = CheckOutcome::kNoStatusLine;
  else if (!ending.errors.empty())
    ending.outcome = CheckOutcome::kOutputFailed;
  else
    ending.outcome =
        report.verdict.within ? CheckOutcome::kWithinLimits : CheckOutcome::kLimitExceeded;
  return ending;
}

}  // namespace qp::check
