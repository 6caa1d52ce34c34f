// The output pixel formats' identity: their codes, FOURCCs, bit counts and the four-character
// names the INI, the header line and the checker use. Config, synth, frame, stream and check
// all read them from here.
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

struct PixelFormatName {
  char name[5];
  uint32_t compression;
  int32_t bit_count;
};

// Every valid (code, bit count) pair and its name, in the order the INI documents them.
constexpr PixelFormatName kPixelFormatNames[] = {
    {"RG32", kFormatRgb, 32},  {"RG24", kFormatRgb, 24},  {"YUY2", kFormatYUY2, 16},
    {"YVYU", kFormatYVYU, 16}, {"UYVY", kFormatUYVY, 16}, {"HDYC", kFormatHDYC, 16},
};

// "RG32", "RG24", "YUY2", "YVYU", "UYVY", "HDYC", or "****" for any other pair (4:2:2 codes
// are named whatever bit count they come with).
constexpr const char* FormatName(uint32_t compression, int32_t bit_count) {
  for (const PixelFormatName& entry : kPixelFormatNames) {
    if (entry.compression == compression &&
        (compression != kFormatRgb || entry.bit_count == bit_count))
      return entry.name;
  }
  return "****";
}

// True for the packed 4:2:2 codes.
constexpr bool IsPacked422(uint32_t compression) {
  return compression != kFormatRgb && FormatName(compression, 16)[0] != '*';
}

}  // namespace qp::synth
