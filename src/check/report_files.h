// A check's files: per-frame rows as CSV, the summary as JSON. Both are written with "\n" line
// ends on every system, so that scripts read them alike.
#pragma once

#include <string>

#include "check/check_report.h"

namespace qp::check {

// One row per frame of the recording, under a header row.
std::string ReportCsv(const CheckReport& report);
// One object; text that is no UTF-8 has its bytes replaced, so the document always parses.
std::string ReportJson(const CheckReport& report);

// False with a message when the file cannot be written.
bool WriteCsv(const std::string& path, const CheckReport& report, std::string& error);
bool WriteJson(const std::string& path, const CheckReport& report, std::string& error);

}  // namespace qp::check
