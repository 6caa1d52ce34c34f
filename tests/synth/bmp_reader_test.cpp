// The BMP reader against broken and unusual pictures: each one is either refused or read to
// exactly the pixels it holds, in memory (buffers of exact size, so the sanitizers see any
// overread) and through LoadPicture from a file.
#include "synth/bmp_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include "synth/bmp_test_picture.h"
#include "support/temp_dir.h"
#include "synth/frame_image.h"
#include "synth/pixel_format.h"

namespace qp::synth {
namespace {

using testing::BmpLayout;
using testing::MakeBmp;
using testing::PutU16;
using testing::PutU32;

// Parses a copy of `bytes` held in a heap block of exactly that size.
bool ParseExact(const std::vector<uint8_t>& bytes, BmpPicture& picture,
                std::unique_ptr<uint8_t[]>& holder, bool with_file_header = true) {
  holder.reset(new uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)]);
  if (!bytes.empty()) std::memcpy(holder.get(), bytes.data(), bytes.size());
  return with_file_header ? ParseBmpFile(holder.get(), bytes.size(), picture)
                          : ParseBmpInfo(holder.get(), bytes.size(), picture);
}

// Every pixel of `picture` is the pattern colour of its column and line.
::testing::AssertionResult HoldsPattern(const BmpPicture& picture, int32_t width, int32_t height) {
  if (picture.width != width || picture.height != height) {
    return ::testing::AssertionFailure() << picture.width << "x" << picture.height;
  }
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      uint8_t want[3];
      testing::PatternColour(x, height - 1 - y, want);
      if (std::memcmp(picture.Line(y) + x * picture.bytes_per_pixel, want, 3) != 0) {
        return ::testing::AssertionFailure() << "pixel " << x << ", line " << y;
      }
    }
  }
  return ::testing::AssertionSuccess();
}

struct BrokenCase {
  const char* name;
  BmpLayout layout;
  std::function<void(std::vector<uint8_t>&)> damage;
  bool readable;  // true: read as the layout's pattern despite the damage
};

const BmpLayout k4x3{4, 3, 24};  // rows of 12 bytes: no padding
const BmpLayout k3x2{3, 2, 24};  // rows of 9 pixel bytes + 3 padding bytes
const BmpLayout k2x2x32{2, 2, 32};

std::vector<BrokenCase> BrokenCases() {
  auto put32 = [](std::size_t at, uint32_t v) {
    return [=](std::vector<uint8_t>& b) { PutU32(b, at, v); };
  };
  auto put16 = [](std::size_t at, uint32_t v) {
    return [=](std::vector<uint8_t>& b) { PutU16(b, at, v); };
  };
  auto cut = [](std::size_t n) { return [=](std::vector<uint8_t>& b) { b.resize(b.size() - n); }; };
  auto keep = [](std::size_t n) { return [=](std::vector<uint8_t>& b) { b.resize(n); }; };
  auto none = [](std::vector<uint8_t>&) {};
  using namespace testing;
  return {
      {"empty file", k4x3, keep(0), false},
      {"signature", k4x3, [](std::vector<uint8_t>& b) { b[1] = 'A'; }, false},
      {"file header only", k4x3, keep(14), false},
      {"info header truncated", k4x3, keep(14 + 39), false},
      {"headers without pixels", k4x3, keep(54), false},
      {"last row short by one byte", k4x3, cut(1), false},
      {"half the rows", k4x3, cut(18), false},
      {"last row without its padding", k3x2, cut(3), true},
      {"last row cut into its pixels", k3x2, cut(4), false},
      {"width 0", k4x3, put32(kBmpWidth, 0), false},
      {"width -1", k4x3, put32(kBmpWidth, 0xFFFFFFFF), false},
      {"width 2^31-1", k4x3, put32(kBmpWidth, 0x7FFFFFFF), false},
      {"width just over the cap", k4x3, put32(kBmpWidth, kMaxBmpSide + 1), false},
      {"width larger than the rows", k4x3, put32(kBmpWidth, 5), false},
      {"height 0", k4x3, put32(kBmpHeight, 0), false},
      {"height 2^31-1", k4x3, put32(kBmpHeight, 0x7FFFFFFF), false},
      {"height -2^31", k4x3, put32(kBmpHeight, 0x80000000), false},
      {"height larger than the rows", k4x3, put32(kBmpHeight, 4), false},
      {"height -4 top-down beyond the rows", k4x3, put32(kBmpHeight, 0xFFFFFFFC), false},
      {"bit count 0", k4x3, put16(kBmpBitCount, 0), false},
      {"bit count 7", k4x3, put16(kBmpBitCount, 7), false},
      {"bit count 64", k4x3, put16(kBmpBitCount, 64), false},
      {"bit count 8 (palette)", k4x3, put16(kBmpBitCount, 8), false},
      {"bit count 16", k4x3, put16(kBmpBitCount, 16), false},
      {"bit count 1", k4x3, put16(kBmpBitCount, 1), false},
      {"planes 0", k4x3, put16(kBmpPlanes, 0), false},
      {"RLE8", k4x3, put32(kBmpCompression, 1), false},
      {"JPEG", k4x3, put32(kBmpCompression, 4), false},
      {"bit fields on 24 bits", k4x3, put32(kBmpCompression, 3), false},
      {"pixel offset past the end", k4x3, put32(kBmpPixelOffset, 54 + 36 + 1), false},
      {"pixel offset 2^32-1", k4x3, put32(kBmpPixelOffset, 0xFFFFFFFF), false},
      {"pixel offset 0", k4x3, put32(kBmpPixelOffset, 0), false},
      {"pixel offset inside the header", k4x3, put32(kBmpPixelOffset, 20), false},
      {"pixel offset one row late", k4x3, put32(kBmpPixelOffset, 54 + 12), false},
      {"OS/2 core header", k4x3, put32(kBmpHeaderSize, 12), false},
      {"OS/2 v2 header", k4x3, put32(kBmpHeaderSize, 64), false},
      {"header size 2^32-1", k4x3, put32(kBmpHeaderSize, 0xFFFFFFFF), false},
      {"header size past the end", k4x3, put32(kBmpHeaderSize, 124), false},
      {"file size field 0", k4x3, put32(kBmpFileSize, 0), true},
      {"file size field 2^32-1", k4x3, put32(kBmpFileSize, 0xFFFFFFFF), true},
      {"file size field too small", k4x3, put32(kBmpFileSize, 20), true},
      {"trailing bytes", k4x3, [](std::vector<uint8_t>& b) { b.resize(b.size() + 7, 0xAB); }, true},
      {"one pixel", BmpLayout{1, 1, 24}, none, true},
      {"one pixel, 32 bits", BmpLayout{1, 1, 32}, none, true},
      {"top-down", BmpLayout{5, 4, 24, true}, none, true},
      {"V4 header", BmpLayout{3, 2, 24, false, 108}, none, true},
      {"V5 header, 32 bits", BmpLayout{3, 2, 32, false, 124}, none, true},
      {"bit fields after the info header", BmpLayout{3, 2, 32, false, 40, 3}, none, true},
      {"bit fields inside a V5 header", BmpLayout{3, 2, 32, false, 124, 3}, none, true},
      {"bit fields of another order", k2x2x32,
       [](std::vector<uint8_t>& b) {
         PutU32(b, kBmpCompression, 3);
         b.insert(b.begin() + 54, 12, 0);
         PutU32(b, kBmpPixelOffset, 66);
         PutU32(b, 54, 0x000000FF);
         PutU32(b, 58, 0x0000FF00);
         PutU32(b, 62, 0x00FF0000);
       },
       false},
      {"bit fields without room for masks", k2x2x32,
       [](std::vector<uint8_t>& b) {
         PutU32(b, kBmpCompression, 3);
         b.resize(54 + 8);
       },
       false},
      {"colour table before 24-bit rows", BmpLayout{3, 2, 24, false, 40, 0, 5}, none, true},
  };
}

TEST(BmpReaderBrokenPictures, InMemoryEachRefusedOrReadExactly) {
  for (const BrokenCase& c : BrokenCases()) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = MakeBmp(c.layout);
    c.damage(bytes);
    BmpPicture picture;
    std::unique_ptr<uint8_t[]> holder;
    ASSERT_EQ(ParseExact(bytes, picture, holder), c.readable);
    if (c.readable) {
      EXPECT_EQ(picture.bytes_per_pixel, c.layout.bit_count / 8);
      EXPECT_TRUE(HoldsPattern(picture, c.layout.width, c.layout.height));
    }
  }
}

TEST(BmpReaderBrokenPictures, FromFilesLoadPictureAgreesAndRefusalsKeepTheImage) {
  qp::test::TempDir folder;
  for (const BrokenCase& c : BrokenCases()) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = MakeBmp(c.layout);
    c.damage(bytes);
    const std::string path = folder.Write("broken.bmp", bytes);

    FrameImage image;
    ASSERT_TRUE(image.CreateBlank(6, 2, kFormatRgb, 32));
    const uint8_t* before = image.Pixels();
    ASSERT_EQ(image.LoadPicture(path.c_str(), 0, 0, kFormatRgb, 24), c.readable);
    if (!c.readable) {
      EXPECT_EQ(image.Pixels(), before);
      EXPECT_EQ(image.width(), 6);
      EXPECT_EQ(image.bytes_per_pixel(), 4);
      continue;
    }
    ASSERT_EQ(image.width(), c.layout.width);
    ASSERT_EQ(image.height(), c.layout.height);
    for (int32_t row = 0; row < image.height(); ++row) {
      for (int32_t x = 0; x < image.width(); ++x) {
        uint8_t want[3];
        testing::PatternColour(x, image.height() - 1 - row, want);
        ASSERT_EQ(std::memcmp(image.Pixels() + row * image.stride() + x * 3, want, 3), 0)
            << x << ", " << row;
      }
    }
  }
}

TEST(BmpReaderResourceLayout, PackedDibFindsRowsAfterMasksAndColourTable) {
  const BmpLayout layouts[] = {
      {3, 2, 24},
      {3, 2, 24, false, 40, 0, 3},  // colour table of 3 entries
      {3, 2, 32, false, 40, 3},     // masks after the header
      {3, 2, 32, true, 108, 3},     // masks inside, top-down
  };
  for (const BmpLayout& layout : layouts) {
    std::vector<uint8_t> dib = MakeBmp(layout);
    dib.erase(dib.begin(), dib.begin() + 14);
    BmpPicture picture;
    std::unique_ptr<uint8_t[]> holder;
    ASSERT_TRUE(ParseExact(dib, picture, holder, false)) << layout.header_size;
    EXPECT_TRUE(HoldsPattern(picture, 3, 2));
    // A colour table that claims more entries than the block holds.
    PutU32(dib, 32, 1u << 30);
    EXPECT_FALSE(ParseExact(dib, picture, holder, false));
  }
  BmpPicture picture;
  EXPECT_FALSE(ParseBmpInfo(nullptr, 100, picture));
  EXPECT_FALSE(ParseBmpFile(nullptr, 100, picture));
}

TEST(BmpReaderFiles, MissingFoldersAndOversizedFilesAreRefusedUnread) {
  qp::test::TempDir folder;
  std::vector<uint8_t> contents{1, 2, 3};
  EXPECT_FALSE(ReadBmpFileBytes(folder.PathOf("missing.bmp").c_str(), contents));
  EXPECT_FALSE(ReadBmpFileBytes("", contents));
  EXPECT_FALSE(ReadBmpFileBytes(nullptr, contents));
  EXPECT_EQ(contents.size(), 3u);

  // Sparse: no disk space is used, and the reader must not try to read it.
  const std::string huge = folder.Write("huge.bmp", MakeBmp(k4x3));
  std::filesystem::resize_file(huge, kMaxBmpFileBytes + 1);
  EXPECT_FALSE(ReadBmpFileBytes(huge.c_str(), contents));
  std::filesystem::resize_file(huge, 100);
  EXPECT_TRUE(ReadBmpFileBytes(huge.c_str(), contents));
  EXPECT_EQ(contents.size(), 100u);
}

}  // namespace
}  // namespace qp::synth
