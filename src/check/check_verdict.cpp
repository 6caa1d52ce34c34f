#include "check/check_verdict.h"

namespace qp::check {
namespace {

void Judge(const char* what, int64_t found, int64_t limit, CheckVerdict& verdict) {
  if (limit < 0 || found <= limit) return;
  verdict.exceeded.push_back(std::string(what) + " " + std::to_string(found) + ", more than " +
                             std::to_string(limit));
}

}  // namespace

CheckVerdict JudgeLimits(const RecordingAnalysis& analysis, const CheckLimits& limits) {
  CheckVerdict verdict;
  Judge("missing frames", analysis.missing, limits.max_missing, verdict);
  Judge("repeats", analysis.repeats, limits.max_repeats, verdict);
  verdict.within = verdict.exceeded.empty();
  return verdict;
}

}  // namespace qp::check
