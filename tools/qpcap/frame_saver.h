// frame: frame N of a device's stream, caught with the sample grabber and saved as a BMP file;
// packed 4:2:2 YUV frames are converted to 24-bit RGB, since a BMP cannot hold them.
#pragma once

#include "capture_setup.h"

namespace qpcap {

int RunSaveFrame(const CommandOptions& options);

}  // namespace qpcap
