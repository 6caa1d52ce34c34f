// A frame buffer to compose into: the sample's bytes, their count, the frame's size in pixels
// and the distance between stored rows. Rows are numbered in the pixel format's own order (RGB
// bottom-up, 4:2:2 top-down); `reversed` lays them out from the other end of the buffer, for a
// connection that agreed on top-down RGB (negative biHeight). `pitch` may exceed row_pixels ×
// bytes per pixel (RGB 24 rows are padded to 4 bytes in the agreed media type).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qp::synth {

struct FrameBuffer {
  uint8_t* bytes = nullptr;
  std::size_t size = 0;    // bytes available at `bytes`
  int32_t row_pixels = 0;  // pixels per frame row
  int32_t rows = 0;        // frame rows
  int32_t pitch = 0;       // bytes from one stored row to the next
  bool reversed = false;   // row 0 is the last row in memory
};

// Where frame row `row` (in the format's own order) starts.
inline uint8_t* RowStart(const FrameBuffer& frame, int64_t row) {
  const int64_t stored = frame.reversed ? int64_t{frame.rows} - 1 - row : row;
  return frame.bytes + stored * frame.pitch;
}

// Bytes from one frame row to the next: negative when the rows are reversed.
inline int64_t RowStep(const FrameBuffer& frame) {
  return frame.reversed ? -int64_t{frame.pitch} : int64_t{frame.pitch};
}

// True when `frame` can take `rows` rows of row_pixels pixels of `bytes_per_pixel` bytes each at
// its pitch, within its size. Computed in 64 bits.
inline bool FrameFits(const FrameBuffer& frame, int64_t bytes_per_pixel) {
  if (frame.bytes == nullptr || frame.row_pixels <= 0 || frame.rows <= 0 || bytes_per_pixel <= 0)
    return false;
  const int64_t row_bytes = static_cast<int64_t>(frame.row_pixels) * bytes_per_pixel;
  if (frame.pitch < row_bytes) return false;
  const uint64_t needed =
      static_cast<uint64_t>(frame.rows - 1) * static_cast<uint64_t>(frame.pitch) +
      static_cast<uint64_t>(row_bytes);
  return frame.size >= needed;
}

}  // namespace qp::synth
