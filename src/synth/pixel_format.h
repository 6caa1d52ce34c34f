// The output pixel formats: the valid (format code, bit count) pairs and the
// conversion of a pair of 24-bit pixels into the packed 4:2:2 layouts.
#pragma once

#include <cstdint>

#include "synth/pixel_format_code.h"

namespace qp::synth {

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
