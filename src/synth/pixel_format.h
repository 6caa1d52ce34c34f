// The output pixel formats: their codes, the valid (format code, bit count) pairs, and the
// conversion of a pair of 24-bit pixels into the packed 4:2:2 layouts.
#pragma once

#include <cstdint>

namespace qp::synth {

// Format code of a packed 4:2:2 format: its four ASCII characters, the first in the low byte.
constexpr uint32_t FourCC(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<unsigned char>(a)) |
         static_cast<uint32_t>(static_cast<unsigned char>(b)) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(c)) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(d)) << 24;
}

constexpr uint32_t kFormatRgb = 0;  // RGB 32 or 24, blue-green-red byte order, rows bottom-up
constexpr uint32_t kFormatYUY2 = FourCC('Y', 'U', 'Y', '2');  // Y0 Cb Y1 Cr, BT.601
constexpr uint32_t kFormatYVYU = FourCC('Y', 'V', 'Y', 'U');  // Y0 Cr Y1 Cb, BT.601
constexpr uint32_t kFormatUYVY = FourCC('U', 'Y', 'V', 'Y');  // Cb Y0 Cr Y1, BT.601
constexpr uint32_t kFormatHDYC = FourCC('H', 'D', 'Y', 'C');  // Cb Y0 Cr Y1, BT.709

// Bytes per pixel of a valid pair: (RGB, 32) 4, (RGB, 24) 3, (4:2:2 code, 16) 2. Zero for any
// other pair, which no image may be built in.
int32_t BytesPerPixel(uint32_t format, int32_t bit_count);

// Packs two horizontally adjacent pixels, each given as blue, green, red bytes, into the four
// bytes of a 4:2:2 pixel pair. Studio range; chroma is the pair's average, halves rounded up.
using PackPairFunction = void (*)(const uint8_t* left, const uint8_t* right, uint8_t* out);

void PackYUY2(const uint8_t* left, const uint8_t* right, uint8_t* out);
void PackYVYU(const uint8_t* left, const uint8_t* right, uint8_t* out);
void PackUYVY(const uint8_t* left, const uint8_t* right, uint8_t* out);
void PackHDYC(const uint8_t* left, const uint8_t* right, uint8_t* out);

// The packing routine of a 4:2:2 format code; null for RGB and unknown codes.
PackPairFunction PackerFor(uint32_t format);

}  // namespace qp::synth
