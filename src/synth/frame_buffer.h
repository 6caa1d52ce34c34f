// A frame buffer to compose into: the sample's bytes, their count, the frame's size in pixels
// and the distance between stored rows. Rows lie in the pixel format's own order (RGB
// bottom-up, 4:2:2 top-down). `pitch` may exceed rowPixels × bytes per pixel (RGB 24 rows are
// padded to 4 bytes in the agreed media type).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qp::synth {

struct FrameBuffer {
  uint8_t* bytes = nullptr;
  std::size_t size = 0;    // bytes available at `bytes`
  int32_t rowPixels = 0;   // pixels per frame row
  int32_t rows = 0;        // frame rows
  int32_t pitch = 0;       // bytes from one stored row to the next
};

// True when `frame` can take `rows` rows of rowPixels pixels of `bytesPerPixel` bytes each at
// its pitch, within its size. Computed in 64 bits.
inline bool FrameFits(const FrameBuffer& frame, int64_t bytesPerPixel) {
  if (frame.bytes == nullptr || frame.rowPixels <= 0 || frame.rows <= 0 || bytesPerPixel <= 0)
    return false;
  const int64_t rowBytes = static_cast<int64_t>(frame.rowPixels) * bytesPerPixel;
  if (frame.pitch < rowBytes) return false;
  const uint64_t needed = static_cast<uint64_t>(frame.rows - 1) * static_cast<uint64_t>(frame.pitch) +
                          static_cast<uint64_t>(rowBytes);
  return frame.size >= needed;
}

}  // namespace qp::synth
