// Colour conversion to the packed 4:2:2 formats.
//
// Every component is computed in double precision in exactly the order below and truncated,
// never rounded or clamped: the published results depend on the last bit (BT.709 white gives
// luma 234, and six grey levels give Cb 127). Fused multiply-add would change them, hence the
// build's -ffp-contract=off.
#include "synth/pixel_format.h"

namespace qp::synth {
namespace {

struct Ycc {
  int y;
  int cb;
  int cr;
};

// Truncation toward zero; for inputs 0..255 every component lies within 16..240.
Ycc Bt601(double b, double g, double r) {
  Ycc c;
  c.y = static_cast<int>(((0.098 * b + 0.257 * r) + 0.504 * g) + 16.0);
  c.cb = static_cast<int>((0.439 * b - (0.148 * r + 0.291 * g)) + 128.0);
  c.cr = static_cast<int>(((0.439 * r - 0.368 * g) - 0.071 * b) + 128.0);
  return c;
}

Ycc Bt709(double b, double g, double r) {
  constexpr double k = 0.00392156862745098;  // 1/255, as written, not computed
  Ycc c;
  c.y = static_cast<int>((((0.2126 * r + 0.0722 * b) + 0.7152 * g) * 219.0) * k + 16.0);
  c.cb = static_cast<int>(((0.5 * b - (0.3854 * g + 0.1146 * r)) * 224.0) * k + 128.0);
  c.cr = static_cast<int>((((0.5 * r - 0.4542 * g) - 0.0458 * b) * 224.0) * k + 128.0);
  return c;
}

struct PairValues {
  uint8_t y0;
  uint8_t y1;
  uint8_t cb;
  uint8_t cr;
};

template <Ycc (*Convert)(double, double, double)>
PairValues ConvertPair(const uint8_t* left, const uint8_t* right) {
  const Ycc p0 = Convert(left[0], left[1], left[2]);
  const Ycc p1 = Convert(right[0], right[1], right[2]);
  return PairValues{static_cast<uint8_t>(p0.y), static_cast<uint8_t>(p1.y),
                    static_cast<uint8_t>((p0.cb + p1.cb + 1) / 2),
                    static_cast<uint8_t>((p0.cr + p1.cr + 1) / 2)};
}

}  // namespace

int32_t BytesPerPixel(uint32_t format, int32_t bit_count) {
  switch (format) {
    case kFormatRgb: return bit_count == 32 ? 4 : bit_count == 24 ? 3 : 0;
    case kFormatYUY2:
    case kFormatYVYU:
    case kFormatUYVY:
    case kFormatHDYC: return bit_count == 16 ? 2 : 0;
    default: return 0;
  }
}

void PackYUY2(const uint8_t* left, const uint8_t* right, uint8_t* out) {
  const PairValues v = ConvertPair<Bt601>(left, right);
  out[0] = v.y0;
  out[1] = v.cb;
  out[2] = v.y1;
  out[3] = v.cr;
}

void PackYVYU(const uint8_t* left, const uint8_t* right, uint8_t* out) {
  const PairValues v = ConvertPair<Bt601>(left, right);
  out[0] = v.y0;
  out[1] = v.cr;
  out[2] = v.y1;
  out[3] = v.cb;
}

void PackUYVY(const uint8_t* left, const uint8_t* right, uint8_t* out) {
  const PairValues v = ConvertPair<Bt601>(left, right);
  out[0] = v.cb;
  out[1] = v.y0;
  out[2] = v.cr;
  out[3] = v.y1;
}

void PackHDYC(const uint8_t* left, const uint8_t* right, uint8_t* out) {
  const PairValues v = ConvertPair<Bt709>(left, right);
  out[0] = v.cb;
  out[1] = v.y0;
  out[2] = v.cr;
  out[3] = v.y1;
}

PackPairFunction PackerFor(uint32_t format) {
  switch (format) {
    case kFormatYUY2: return PackYUY2;
    case kFormatYVYU: return PackYVYU;
    case kFormatUYVY: return PackUYVY;
    case kFormatHDYC: return PackHDYC;
    default: return nullptr;
  }
}

}  // namespace qp::synth
