// Building frame images: tiling to whole multiples with clean seams and each format's row
// order,
// identical results from 24- and 32-bit files, and refusals that leave the image untouched.
#include "synth/frame_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "synth/bmp_test_picture.h"
#include "support/temp_dir.h"
#include "synth/pixel_format.h"

namespace qp::synth {
namespace {

using testing::BmpLayout;
using testing::MakeBmp;
using testing::PatternColour;

constexpr uint32_t kPackedFormats[] = {kFormatYUY2, kFormatYVYU, kFormatUYVY, kFormatHDYC};

class FrameImageTest : public ::testing::Test {
 protected:
  std::string Picture(const BmpLayout& layout) {
    return folder_.Write("p" + std::to_string(++count_) + ".bmp", MakeBmp(layout));
  }
  qp::test::TempDir folder_;
  int count_ = 0;
};

// The image shows source pixel (x mod src_w, line mod src_h) everywhere, lines from the top.
::testing::AssertionResult RgbTiles(const FrameImage& image, int32_t src_w, int32_t src_h) {
  const int32_t bpp = image.bytes_per_pixel();
  for (int32_t row = 0; row < image.height(); ++row) {
    const int32_t line_from_top = image.height() - 1 - row;  // bottom-up storage
    for (int32_t x = 0; x < image.width(); ++x) {
      uint8_t want[3];
      PatternColour(x % src_w, line_from_top % src_h, want);
      const uint8_t* got = image.Pixels() + std::size_t(row) * image.stride() + x * bpp;
      if (std::memcmp(got, want, 3) != 0 || (bpp == 4 && got[3] != 0)) {
        return ::testing::AssertionFailure() << "column " << x << ", stored row " << row;
      }
    }
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult PackedTiles(const FrameImage& image, int32_t src_w, int32_t src_h) {
  const PackPairFunction pack = PackerFor(image.format());
  for (int32_t row = 0; row < image.height(); ++row) {  // top-down storage
    const uint8_t* stored = image.Pixels() + std::size_t(row) * image.stride();
    for (int32_t k = 0; k < image.width() / 2; ++k) {
      uint8_t left[3], right[3], want[4];
      PatternColour((2 * k) % src_w, row % src_h, left);
      PatternColour((2 * k + 1) % src_w, row % src_h, right);
      pack(left, right, want);
      if (std::memcmp(stored + 4 * k, want, 4) != 0) {
        return ::testing::AssertionFailure() << "pair " << k << ", stored row " << row;
      }
    }
    if (image.width() % 2 == 1 && (stored[image.stride() - 2] | stored[image.stride() - 1])) {
      return ::testing::AssertionFailure() << "odd last pixel written, row " << row;
    }
  }
  return ::testing::AssertionSuccess();
}

TEST_F(FrameImageTest, TilesToWholeMultiplesNeverScalesOrCrops) {
  struct Case {
    int32_t src_w, src_h, request_w, request_h, width, height;
  };
  const Case cases[] = {
      {100, 50, 640, 480, 700, 500},  // 7 × 10 copies
      {800, 600, 640, 480, 800, 600},
      {640, 100, 640, 480, 640, 500},
      {5, 3, 0, 0, 5, 3},  // native size (glyph sheet)
      {5, 3, -7, -1, 5, 3},
      {3, 2, 4, 5, 6, 6},  // odd width tiled to an even one
      {1, 1, 2, 1, 2, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << c.src_w << "x" << c.src_h << " at " << c.request_w << "x" << c.request_h);
    const std::string path = Picture(BmpLayout{c.src_w, c.src_h, 24});
    for (int32_t bits : {24, 32}) {
      FrameImage image;
      ASSERT_TRUE(image.LoadPicture(path.c_str(), c.request_w, c.request_h, kFormatRgb, bits));
      ASSERT_EQ(image.width(), c.width);
      ASSERT_EQ(image.height(), c.height);
      ASSERT_EQ(image.stride(), c.width * bits / 8);
      EXPECT_TRUE(RgbTiles(image, c.src_w, c.src_h));
    }
    for (uint32_t format : kPackedFormats) {
      FrameImage image;
      ASSERT_TRUE(image.LoadPicture(path.c_str(), c.request_w, c.request_h, format, 16));
      ASSERT_EQ(image.stride(), c.width * 2);
      EXPECT_TRUE(PackedTiles(image, c.src_w, c.src_h)) << format;
    }
  }
}

TEST_F(FrameImageTest, RowPaddingOfOddWidthFilesNeverBecomesPixels) {
  // 101 pixels: 303 pixel bytes in file rows of 304; the builder fills the padding with 0xEE,
  // which the pattern never uses.
  const std::string path = Picture(BmpLayout{101, 3, 24});
  FrameImage image;
  ASSERT_TRUE(image.LoadPicture(path.c_str(), 202, 3, kFormatRgb, 24));
  ASSERT_EQ(image.width(), 202);
  EXPECT_TRUE(RgbTiles(image, 101, 3));
  const uint8_t* bottom = image.Pixels();
  EXPECT_EQ(std::memcmp(bottom + 101 * 3, bottom, 3), 0);  // column 101 shows column 0
  for (int32_t i = 0; i < image.stride() * image.height(); ++i) {
    ASSERT_NE(image.Pixels()[i], 0xEE) << i;
  }
}

TEST_F(FrameImageTest, FilesOf24And32BitsGiveIdenticalImages) {
  const std::string path24 = Picture(BmpLayout{7, 5, 24});
  const std::string path32 = Picture(BmpLayout{7, 5, 32});  // fourth bytes 0xEE
  const std::pair<uint32_t, int32_t> pairs[] = {{kFormatRgb, 32},  {kFormatRgb, 24},
                                                {kFormatYUY2, 16}, {kFormatYVYU, 16},
                                                {kFormatUYVY, 16}, {kFormatHDYC, 16}};
  for (const auto& [format, bits] : pairs) {
    FrameImage from24, from32;
    ASSERT_TRUE(from24.LoadPicture(path24.c_str(), 20, 11, format, bits));
    ASSERT_TRUE(from32.LoadPicture(path32.c_str(), 20, 11, format, bits));
    ASSERT_EQ(from24.width(), from32.width());
    ASSERT_EQ(from24.height(), from32.height());
    EXPECT_EQ(std::memcmp(from24.Pixels(), from32.Pixels(),
                          std::size_t(from24.stride()) * from24.height()),
              0)
        << format << ' ' << bits;
  }
}

TEST_F(FrameImageTest, BlankImagesAreZeroOfExactSizeWithCells) {
  FrameImage image;
  ASSERT_TRUE(image.CreateBlank(250, 100, kFormatRgb, 32));
  EXPECT_EQ(image.cell_width(), 7);
  EXPECT_EQ(image.cell_height(), 6);
  EXPECT_EQ(image.stride(), 1000);
  for (int32_t i = 0; i < 1000 * 100; ++i) ASSERT_EQ(image.Pixels()[i], 0);

  // Replacing the picture frees the old buffer (LeakSanitizer) and changes every field.
  ASSERT_TRUE(image.CreateBlank(31, 15, kFormatUYVY, 16));
  EXPECT_EQ(image.width(), 31);
  EXPECT_EQ(image.stride(), 62);
  EXPECT_EQ(image.format(), kFormatUYVY);
  EXPECT_EQ(image.cell_width(), 0);
  EXPECT_EQ(image.cell_height(), 0);
  for (int32_t i = 0; i < 62 * 15; ++i) ASSERT_EQ(image.Pixels()[i], 0);

  const std::string sheet = Picture(BmpLayout{64, 32, 24});
  ASSERT_TRUE(image.LoadPicture(sheet.c_str(), 0, 0, kFormatRgb, 24));
  EXPECT_EQ(image.cell_width(), 2);
  EXPECT_EQ(image.cell_height(), 2);
  image.ReleasePixels();
  EXPECT_EQ(image.Pixels(), nullptr);
}

// Wrong pairs, missing files and sizes whose 32-bit width × height × bytes per pixel would
// wrap are refused before anything is released.
TEST_F(FrameImageTest, RefusalsLeaveTheImageUntouched) {
  const std::string path = Picture(BmpLayout{3, 3, 24});
  FrameImage image;
  ASSERT_TRUE(image.CreateBlank(64, 48, kFormatYUY2, 16));
  const uint8_t* pixels = image.Pixels();
  auto unchanged = [&] {
    return image.Pixels() == pixels && image.width() == 64 && image.height() == 48 &&
           image.format() == kFormatYUY2 && image.bytes_per_pixel() == 2 && image.stride() == 128;
  };
  const std::pair<uint32_t, int32_t> wrong_pairs[] = {{kFormatRgb, 16},
                                                      {kFormatRgb, 0},
                                                      {kFormatYUY2, 24},
                                                      {kFormatHDYC, 32},
                                                      {FourCC('N', 'V', '1', '2'), 16}};
  for (const auto& [format, bits] : wrong_pairs) {
    EXPECT_FALSE(image.LoadPicture(path.c_str(), 0, 0, format, bits)) << format << ' ' << bits;
    EXPECT_FALSE(image.CreateBlank(8, 8, format, bits)) << format << ' ' << bits;
  }
  EXPECT_FALSE(image.LoadPicture(folder_.PathOf("missing.bmp").c_str(), 0, 0, kFormatRgb, 24));
  EXPECT_FALSE(image.LoadPicture(nullptr, 0, 0, kFormatRgb, 24));
  EXPECT_FALSE(image.LoadPicture(path.c_str(), 32769, 1, kFormatRgb, 32));
  EXPECT_FALSE(image.LoadPicture(path.c_str(), 0x7FFFFFFF, 0x7FFFFFFF, kFormatRgb, 32));
  EXPECT_FALSE(image.LoadPicture(path.c_str(), 32768, 32768, kFormatRgb, 32));  // 4 GiB
  EXPECT_FALSE(image.CreateBlank(32768, 32768, kFormatRgb, 32));
  EXPECT_FALSE(image.CreateBlank(0x7FFFFFFF, 2, kFormatRgb, 24));
  EXPECT_FALSE(image.CreateBlank(0, 480, kFormatRgb, 24));
  EXPECT_FALSE(image.CreateBlank(-640, -480, kFormatRgb, 24));
  EXPECT_TRUE(unchanged());
  // The largest side still loads when the total stays within the budget.
  ASSERT_TRUE(image.LoadPicture(path.c_str(), 32768, 1, kFormatYUY2, 16));
  EXPECT_EQ(image.width(), 32769);
  EXPECT_TRUE(PackedTiles(image, 3, 3));
}

}  // namespace
}  // namespace qp::synth
