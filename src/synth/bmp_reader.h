// The project's own reader of Windows bitmap (BMP) pictures, used on every platform: parses a
// file's bytes or a bitmap resource (a DIB without file header) held in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qp::synth {

// What the reader accepts: uncompressed 24- and 32-bit pictures with a BITMAPINFOHEADER or a
// later (V2..V5) header, bottom-up or top-down, BI_RGB or (32-bit only) BI_BITFIELDS with the
// plain blue-green-red masks. Palette and 16-bit pictures, RLE and other masks, and the OS/2
// core headers are refused. Each side is at most kMaxBmpSide pixels.
constexpr int32_t kMaxBmpSide = 32768;
// Larger files are refused without being read.
constexpr std::size_t kMaxBmpFileBytes = std::size_t{256} << 20;

// A parsed picture: a view of pixel rows inside the caller's bytes, which must outlive it.
struct BmpPicture {
  int32_t width = 0;            // > 0
  int32_t height = 0;           // > 0, whatever the file's row order
  int32_t bytes_per_pixel = 0;  // 3 (blue, green, red) or 4 (blue, green, red, ignored)
  const uint8_t* bottom_line = nullptr;
  std::ptrdiff_t line_step = 0;  // bytes from a line to the one above it; negative if top-down

  // Picture line `y` counted from the bottom, 0 <= y < height: width pixels, all inside the
  // parsed bytes.
  const uint8_t* Line(int32_t y) const { return bottom_line + line_step * y; }
};

// A whole BMP file ("BM", file header, info header, pixels at the header's pixel offset).
// The file header's size field is not trusted; the bytes given are. False on anything else.
bool ParseBmpFile(const uint8_t* data, std::size_t size, BmpPicture& picture);

// A packed DIB as stored in a bitmap resource: the info header, then bit masks or colour table,
// then the pixels.
bool ParseBmpInfo(const uint8_t* data, std::size_t size, BmpPicture& picture);

// Reads the file at `path` whole into `contents`. False when it cannot be opened or read, or is
// larger than kMaxBmpFileBytes.
bool ReadBmpFileBytes(const char* path, std::vector<uint8_t>& contents);

}  // namespace qp::synth
