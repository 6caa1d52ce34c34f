// record: N seconds of a device's stream into an uncompressed AVI file, written through the
// platform's AVIFile library by a thread of its own so the streaming thread only copies.
#pragma once

#include "capture_setup.h"

namespace qpcap {

int RunRecord(const CommandOptions& options);

}  // namespace qpcap
