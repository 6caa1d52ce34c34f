// Executables carry no bitmap resources here: pictures are always files.
#include "platform/bitmap_resource.h"

namespace qp::platform {

bool FindHostBitmapResource(const char*, const uint8_t*&, std::size_t&) { return false; }

}  // namespace qp::platform
