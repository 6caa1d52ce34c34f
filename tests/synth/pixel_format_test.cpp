// The 4:2:2 packings to the digit, and the table of valid format pairs.
#include "synth/pixel_format.h"

#include <gtest/gtest.h>

#include <array>

namespace qp::synth {
namespace {

using Bytes = std::array<int, 4>;

Bytes Pack(PackPairFunction pack, std::array<uint8_t, 3> left, std::array<uint8_t, 3> right) {
  uint8_t out[4] = {};
  pack(left.data(), right.data(), out);
  return Bytes{out[0], out[1], out[2], out[3]};
}

// Pixels as blue, green, red bytes.
constexpr std::array<uint8_t, 3> kBlack{0, 0, 0};
constexpr std::array<uint8_t, 3> kWhite{255, 255, 255};
constexpr std::array<uint8_t, 3> kRed{0, 0, 255};
constexpr std::array<uint8_t, 3> kGreen{0, 255, 0};
constexpr std::array<uint8_t, 3> kBlue{255, 0, 0};

struct ColourCase {
  const char* name;
  std::array<uint8_t, 3> bgr;
  Bytes bt601;  // Y, Cb, Cr
  Bytes bt709;
};

// A pixel packed with itself keeps its own chroma, so each byte order shows Y, Cb and Cr.
TEST(PixelFormatExactValues, SinglePixelColourTable) {
  const ColourCase cases[] = {
      {"black", kBlack, {16, 128, 128}, {16, 128, 128}},
      {"white", kWhite, {235, 128, 128}, {234, 128, 128}},
      {"red", kRed, {81, 90, 239}, {62, 102, 240}},
      {"green", kGreen, {144, 53, 34}, {172, 41, 26}},
      {"blue", kBlue, {40, 239, 109}, {31, 240, 117}},
  };
  for (const ColourCase& c : cases) {
    SCOPED_TRACE(c.name);
    const int y = c.bt601[0], cb = c.bt601[1], cr = c.bt601[2];
    EXPECT_EQ(Pack(PackYUY2, c.bgr, c.bgr), (Bytes{y, cb, y, cr}));
    EXPECT_EQ(Pack(PackYVYU, c.bgr, c.bgr), (Bytes{y, cr, y, cb}));
    EXPECT_EQ(Pack(PackUYVY, c.bgr, c.bgr), (Bytes{cb, y, cr, y}));
    const int hy = c.bt709[0], hcb = c.bt709[1], hcr = c.bt709[2];
    EXPECT_EQ(Pack(PackHDYC, c.bgr, c.bgr), (Bytes{hcb, hy, hcr, hy}));
  }
}

TEST(PixelFormatExactValues, PairsAverageChromaRoundingHalvesUp) {
  // Red then blue: Cb (90 + 239 + 1) / 2 = 165, Cr (239 + 109 + 1) / 2 = 174.
  EXPECT_EQ(Pack(PackYUY2, kRed, kBlue), (Bytes{81, 165, 40, 174}));
  EXPECT_EQ(Pack(PackYVYU, kRed, kBlue), (Bytes{81, 174, 40, 165}));
  EXPECT_EQ(Pack(PackUYVY, kRed, kBlue), (Bytes{165, 81, 174, 40}));
  EXPECT_EQ(Pack(PackHDYC, kRed, kBlue), (Bytes{171, 62, 179, 31}));
  EXPECT_EQ(Pack(PackYUY2, kWhite, kBlack), (Bytes{235, 128, 16, 128}));
  // The left pixel's luma comes first whatever the order of the chroma.
  EXPECT_EQ(Pack(PackYUY2, kBlue, kRed), (Bytes{40, 165, 81, 174}));
}

TEST(PixelFormatExactValues, GreysAreColourlessExceptSixBt709Levels) {
  for (int level = 0; level < 256; ++level) {
    SCOPED_TRACE(level);
    const uint8_t v = static_cast<uint8_t>(level);
    const std::array<uint8_t, 3> grey{v, v, v};
    const Bytes yuy2 = Pack(PackYUY2, grey, grey);
    EXPECT_EQ(yuy2[1], 128);
    EXPECT_EQ(yuy2[3], 128);
    const bool residue = level == 186 || level == 203 || level == 220 || level == 237 ||
                         level == 244 || level == 254;
    const Bytes hdyc = Pack(PackHDYC, grey, grey);
    EXPECT_EQ(hdyc[0], residue ? 127 : 128);
    EXPECT_EQ(hdyc[2], 128);
  }
}

// No clamping exists, so every input must already land in the studio range.
TEST(PixelFormatClipping, EveryColourStaysInStudioRange) {
  for (int b = 0; b < 256; b += 3) {
    for (int g = 0; g < 256; g += 3) {
      for (int r = 0; r < 256; r += 3) {
        const std::array<uint8_t, 3> p{uint8_t(b), uint8_t(g), uint8_t(r)};
        for (PackPairFunction pack : {PackUYVY, PackHDYC}) {
          const Bytes out = Pack(pack, p, p);
          ASSERT_TRUE(out[1] >= 16 && out[1] <= 235 && out[0] >= 16 && out[0] <= 240 &&
                      out[2] >= 16 && out[2] <= 240)
              << b << ' ' << g << ' ' << r;
        }
      }
    }
  }
}

TEST(PixelFormatWrongArguments, OnlySixFormatPairsExist) {
  EXPECT_EQ(kFormatYUY2, 0x32595559u);
  EXPECT_EQ(BytesPerPixel(kFormatRgb, 32), 4);
  EXPECT_EQ(BytesPerPixel(kFormatRgb, 24), 3);
  const PackPairFunction packers[] = {PackYUY2, PackYVYU, PackUYVY, PackHDYC};
  const uint32_t codes[] = {kFormatYUY2, kFormatYVYU, kFormatUYVY, kFormatHDYC};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(BytesPerPixel(codes[i], 16), 2);
    EXPECT_EQ(PackerFor(codes[i]), packers[i]);
    for (int32_t bits : {0, 8, 24, 32}) EXPECT_EQ(BytesPerPixel(codes[i], bits), 0) << bits;
  }
  for (int32_t bits : {0, 8, 16, 64, -24}) EXPECT_EQ(BytesPerPixel(kFormatRgb, bits), 0) << bits;
  EXPECT_EQ(PackerFor(kFormatRgb), nullptr);
  EXPECT_EQ(BytesPerPixel(FourCC('y', 'u', 'y', '2'), 16), 0);  // codes are case-sensitive
  EXPECT_EQ(PackerFor(FourCC('I', '4', '2', '0')), nullptr);
}

}  // namespace
}  // namespace qp::synth
