// The synth tests' picture pattern, and the shared BMP builder under the names they use.
#pragma once

#include <cstdint>
#include <vector>

#include "support/bmp_file.h"
#include "support/temp_dir.h"

namespace qp::synth::testing {

// A distinct colour for every (column, line from the top) of a small picture; no component is
// ever 0xEE, the value the builder puts into padding and fourth bytes.
inline void PatternColour(int32_t x, int32_t y_from_top, uint8_t bgr[3]) {
  bgr[0] = static_cast<uint8_t>((x * 7 + y_from_top * 3) % 200);
  bgr[1] = static_cast<uint8_t>((x * 13 + y_from_top * 29) % 211 + 1);
  bgr[2] = static_cast<uint8_t>((255 - x - y_from_top * 5) & 0x7F);
}

using ::qp::test::BmpLayout;
using ::qp::test::kBmpBitCount;
using ::qp::test::kBmpCompression;
using ::qp::test::kBmpFileSize;
using ::qp::test::kBmpHeaderSize;
using ::qp::test::kBmpHeight;
using ::qp::test::kBmpPixelOffset;
using ::qp::test::kBmpPlanes;
using ::qp::test::kBmpWidth;
using ::qp::test::MakeBmp;
using ::qp::test::PutU16;
using ::qp::test::PutU32;

// PatternColour pixels.
inline std::vector<uint8_t> MakeBmp(const BmpLayout& layout) {
  return MakeBmp(layout, [](int32_t x, int32_t y, uint8_t* p) { PatternColour(x, y, p); });
}

}  // namespace qp::synth::testing
