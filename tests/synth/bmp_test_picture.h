// Test pictures: BMP files built field by field, so that a test can break any one field, and a
// scratch folder to write them to.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace qp::synth::testing {

// A distinct colour for every (column, line from the top) of a small picture; no component is
// ever 0xEE, the value the builder puts into padding and fourth bytes.
inline void PatternColour(int32_t x, int32_t y_from_top, uint8_t bgr[3]) {
  bgr[0] = static_cast<uint8_t>((x * 7 + y_from_top * 3) % 200);
  bgr[1] = static_cast<uint8_t>((x * 13 + y_from_top * 29) % 211 + 1);
  bgr[2] = static_cast<uint8_t>((255 - x - y_from_top * 5) & 0x7F);
}

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

// A whole BMP file of PatternColour (or `colour`) pixels; row padding and fourth bytes 0xEE.
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

inline std::vector<uint8_t> MakeBmp(const BmpLayout& layout) {
  return MakeBmp(layout, [](int32_t x, int32_t y, uint8_t* p) { PatternColour(x, y, p); });
}

// A folder of its own under the system's temporary folder, removed with its files.
class PictureFolder {
 public:
  PictureFolder() {
    // Test programs may run side by side: a random name, not a counter.
    dir_ = std::filesystem::temp_directory_path() /
           ("qp_pictures_" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir_);
  }
  ~PictureFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::filesystem::path path = dir_ / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path.string();
  }
  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

 private:
  std::filesystem::path dir_;
};

}  // namespace qp::synth::testing
