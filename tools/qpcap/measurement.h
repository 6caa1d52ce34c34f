// measure: frames received in a window of wall time, time-stamp continuity, the spread of
// arrival intervals, lateness against the graph clock and the process's CPU time.
#pragma once

#include "capture_setup.h"

namespace qpcap {

// Returns kExitStreamFault when no frame arrived or the time stamps were not continuous.
int RunMeasure(const CommandOptions& options);

// startup: options.frame runs, each on a graph of its own, from the graph's Pause to the first
// sample reaching the application. Returns kExitStreamFault when a run got no sample.
int RunStartup(const CommandOptions& options);

}  // namespace qpcap
