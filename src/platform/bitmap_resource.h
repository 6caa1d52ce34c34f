// Bitmap resources of the host executable: a picture name is looked up there before it is
// read as a file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qp::platform {

// Finds the bitmap resource `name` of the host process's executable. On success `data` points
// at its bytes (a packed DIB: info header, masks or colour table, pixels; no file header),
// which stay valid for the life of the process. False where the platform has no executable
// resources or there is no such resource.
bool FindHostBitmapResource(const char* name, const uint8_t*& data, std::size_t& size);

}  // namespace qp::platform
