// check: reads an uncompressed AVI file through the platform's AVIFile library and tells what
// happened to the source's frames in it (lost, repeated, reordered, time stamps, colours).
#pragma once

#include "capture_setup.h"

namespace qpcap {

int RunCheck(const CommandOptions& options);

}  // namespace qpcap
