// The plot of a check: the frame numbers received against their position, losses, repeats,
// reorderings and placed frames marked. A gnuplot script with its data inline; the tool that
// draws it runs gnuplot.
#pragma once

#include <string>

#include "check/check_report.h"

namespace qp::check {

// The script that draws `report` into the PNG file `png_path`, which holds no line break. Only
// for a report with identified frames (analysis.any_identified).
std::string PlotScript(const CheckReport& report, const std::string& png_path);

}  // namespace qp::check
