// BMP files built field by field for the tests and the benchmarks, so that a test can break any
// one field: the pictures a module reads, and screenshots a test keeps.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qp::test {

struct BmpLayout {
  int32_t width = 1;
  int32_t height = 1;
  uint16_t bit_count = 24;
  bool top_down = false;
  uint32_t header_size = 40;  // 40, or 108/124 for V4/V5
  uint32_t compression = 0;   // 3: BI_BITFIELDS, masks written as blue-green-red
  uint32_t colors_used = 0;   // colour-table entries written before the pixels
};

// Byte offsets of the fields that tests break.
constexpr std::size_t kBmpFileSize = 2;
constexpr std::size_t kBmpPixelOffset = 10;
constexpr std::size_t kBmpHeaderSize = 14;
constexpr std::size_t kBmpWidth = 18;
constexpr std::size_t kBmpHeight = 22;
constexpr std::size_t kBmpPlanes = 26;
constexpr std::size_t kBmpBitCount = 28;
constexpr std::size_t kBmpCompression = 30;

inline void PutU16(std::vector<uint8_t>& b, std::size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

inline void PutU32(std::vector<uint8_t>& b, std::size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A whole BMP file; `colour(x, y_from_top, pixel)` writes bit_count / 8 bytes of a pixel in
// file order (blue, green, red[, fourth]). Row padding and bytes it leaves are 0xEE.
template <typename Colour>
std::vector<uint8_t> MakeBmp(const BmpLayout& layout, Colour colour) {
  const bool masks_after = layout.compression == 3 && layout.header_size == 40;
  const std::size_t bpp = layout.bit_count / 8;
  const std::size_t row_bytes = (layout.width * bpp + 3) / 4 * 4;
  const std::size_t offset =
      14 + layout.header_size + (masks_after ? 12 : 0) + std::size_t(layout.colors_used) * 4;
  std::vector<uint8_t> b(offset + row_bytes * layout.height, 0);
  b[0] = 'B';
  b[1] = 'M';
  PutU32(b, kBmpFileSize, static_cast<uint32_t>(b.size()));
  PutU32(b, kBmpPixelOffset, static_cast<uint32_t>(offset));
  PutU32(b, kBmpHeaderSize, layout.header_size);
  PutU32(b, kBmpWidth, static_cast<uint32_t>(layout.width));
  PutU32(b, kBmpHeight, static_cast<uint32_t>(layout.top_down ? -layout.height : layout.height));
  PutU16(b, kBmpPlanes, 1);
  PutU16(b, kBmpBitCount, layout.bit_count);
  PutU32(b, kBmpCompression, layout.compression);
  PutU32(b, 14 + 32, layout.colors_used);
  if (layout.compression == 3) {
    PutU32(b, 14 + 40, 0x00FF0000);
    PutU32(b, 14 + 44, 0x0000FF00);
    PutU32(b, 14 + 48, 0x000000FF);
  }
  for (int32_t row = 0; row < layout.height; ++row) {
    const int32_t y_from_top = layout.top_down ? row : layout.height - 1 - row;
    uint8_t* p = b.data() + offset + row_bytes * row;
    std::fill(p, p + row_bytes, 0xEE);
    for (int32_t x = 0; x < layout.width; ++x) colour(x, y_from_top, p + x * bpp);
  }
  return b;
}

}  // namespace qp::test
