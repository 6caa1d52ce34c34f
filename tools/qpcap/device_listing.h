// list and formats: what the system device enumerator and a device's IAMStreamConfig report.
#pragma once

#include "capture_setup.h"

namespace qpcap {

int RunListDevices();
int RunListFormats(const CommandOptions& options);

}  // namespace qpcap
