// The scrolled background window: offset wrapping, row order per format, interlaced fields,
// frames wider than the picture, padded rows and refused frame buffers.
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "synth/frame_image.h"
#include "frame_test_pattern.h"

namespace qp::synth {
namespace {

using test::kFormats;
using test::PatternByte;
using test::PixelFormat;
using test::TestFrame;

int64_t Mod(int64_t value, int64_t period) { return ((value % period) + period) % period; }

struct Offsets {
  int32_t even_column, odd_column, even_line, odd_line;
};

// Frame line t from the top, in buffer row i, must show picture line (y + t) mod height at
// columns (x + c) mod width, with the offsets of row i's class.
::testing::AssertionResult ShowsWindow(const TestFrame& t, const FrameImage& image,
                                       const Offsets& o) {
  const int32_t rows = t.frame.rows;
  for (int64_t line = 0; line < rows; ++line) {
    const int64_t row = t.bottom_up ? rows - 1 - line : line;
    const bool even = row % 2 == 0;
    const int64_t x = even ? o.even_column : o.odd_column;
    const int64_t y = even ? o.even_line : o.odd_line;
    const int64_t picture_line = Mod(y + line, image.height());
    for (int64_t c = 0; c < t.frame.row_pixels; ++c)
      for (int64_t k = 0; k < t.bpp; ++k) {
        const uint8_t want = PatternByte(picture_line, Mod(x + c, image.width()), k);
        if (t.At(line, c, k) != want)
          return ::testing::AssertionFailure()
                 << "frame line " << line << " column " << c << " byte " << k;
      }
  }
  return ::testing::AssertionSuccess();
}

class BackgroundCopy : public ::testing::TestWithParam<PixelFormat> {
 protected:
  bool bottom_up() const { return GetParam().format == 0; }
  int32_t bpp() const { return GetParam().bit_count / 8; }
  void Make(int32_t width, int32_t height) {
    ASSERT_TRUE(test::MakePatternImage(image, width, height, GetParam()));
  }
  FrameImage image;
};

// Exact values: the whole picture, then windows that wrap at the right and bottom edges
// (column offset width - 10 starts with the picture's last 10 columns).
TEST_P(BackgroundCopy, WindowMatchesPictureCoordinates) {
  Make(20, 12);
  const Offsets cases[] = {{0, 0, 0, 0},     {10, 10, 0, 0}, {0, 0, 5, 5},
                           {19, 19, 11, 11}, {6, 6, 3, 3},   {14, 14, 7, 7}};
  for (const Offsets& o : cases) {
    TestFrame t(20, 12, bpp(), bottom_up());
    ASSERT_TRUE(image.CopyWindow(t.frame, o.even_column, o.odd_column, o.even_line, o.odd_line));
    EXPECT_TRUE(ShowsWindow(t, image, o)) << o.even_column << "," << o.even_line;
  }
}

// Wrap-around: negative, huge and extreme offsets behave like their non-negative remainder.
TEST_P(BackgroundCopy, OffsetsWrapLikeTheirRemainder) {
  Make(10, 6);
  struct Case {
    int32_t column, line, column_remainder, line_remainder;
  };
  const Case cases[] = {
      {-1, -1, 9, 5},  // top frame line is the picture's bottom line
      {10 * 3 + 4, 6 * 7 + 2, 4, 2},
      {INT32_MIN, INT32_MIN, 2, 4},  // -2^31 = -214748365 * 10 + 2 = -357913942 * 6 + 4
      {INT32_MAX, INT32_MAX, 7, 1},
      {-10, -6, 0, 0},
  };
  for (const Case& c : cases) {
    TestFrame got(8, 5, bpp(), bottom_up());
    TestFrame want(8, 5, bpp(), bottom_up());
    ASSERT_TRUE(image.CopyWindow(got.frame, c.column, c.column, c.line, c.line));
    ASSERT_TRUE(image.CopyWindow(want.frame, c.column_remainder, c.column_remainder,
                                 c.line_remainder, c.line_remainder));
    EXPECT_EQ(0, std::memcmp(got.storage.get(), want.storage.get(), got.frame.size))
        << c.column << "," << c.line;
    EXPECT_TRUE(ShowsWindow(got, image, {c.column, c.column, c.line, c.line}));
  }
}

// Row order: a picture exactly one frame high with line offset 1 ends with its top line at the
// frame's bottom, whether the buffer is stored bottom-up (RGB) or top-down (4:2:2).
TEST_P(BackgroundCopy, LineOffsetOneMovesTopLineToBottom) {
  Make(6, 9);
  TestFrame t(6, 9, bpp(), bottom_up());
  ASSERT_TRUE(image.CopyWindow(t.frame, 0, 0, 1, 1));
  const int64_t bottom_row = bottom_up() ? 0 : 8;
  for (int64_t c = 0; c < 6; ++c) {
    EXPECT_EQ(t.At(8, c, 0), PatternByte(0, c, 0));
    EXPECT_EQ(t.frame.bytes[bottom_row * t.frame.pitch + c * bpp()], PatternByte(0, c, 0));
  }
  EXPECT_EQ(t.At(0, 0, 0), PatternByte(1, 0, 0));
}

// Interlaced: each buffer row class takes its own offsets; with RGB the even rows count from
// the bottom line, so the field split depends on whether the row count is even or odd.
TEST_P(BackgroundCopy, EvenAndOddRowsTakeTheirOwnOffsets) {
  Make(14, 10);
  for (int32_t rows : {10, 7, 23}) {
    const Offsets o{4, -6, 2, 9};
    TestFrame t(12, rows, bpp(), bottom_up());
    ASSERT_TRUE(image.CopyWindow(t.frame, o.even_column, o.odd_column, o.even_line, o.odd_line));
    EXPECT_TRUE(ShowsWindow(t, image, o)) << rows << " rows";
  }
  // Even height: buffer row 0 is the top line in 4:2:2 but the bottom line in RGB, so the
  // frame's second line from the top is odd-class in 4:2:2 and even-class in RGB.
  TestFrame t(14, 10, bpp(), bottom_up());
  ASSERT_TRUE(image.CopyWindow(t.frame, 0, 0, 0, 5));
  const int64_t second_line_shows = bottom_up() ? 1 : (5 + 1) % 10;
  EXPECT_EQ(t.At(1, 0, 0), PatternByte(second_line_shows, 0, 0));
}

// Frames taller than the picture repeat it downwards; wider ones repeat it across, with more
// than two runs per row and never a read past a stored row.
TEST_P(BackgroundCopy, FrameLargerThanPictureRepeatsIt) {
  Make(5, 3);
  const Offsets cases[] = {{0, 0, 0, 0}, {3, 1, 2, 1}, {-7, 12, -4, 100}};
  for (const Offsets& o : cases) {
    TestFrame t(23, 11, bpp(), bottom_up());
    ASSERT_TRUE(image.CopyWindow(t.frame, o.even_column, o.odd_column, o.even_line, o.odd_line));
    EXPECT_TRUE(ShowsWindow(t, image, o));
  }
  FrameImage narrow;  // one pixel wide: every column is a run of its own
  ASSERT_TRUE(test::MakePatternImage(narrow, 1, 4, GetParam()));
  TestFrame t(9, 4, bpp(), bottom_up());
  ASSERT_TRUE(narrow.CopyWindow(t.frame, 5, 5, 1, 1));
  EXPECT_TRUE(ShowsWindow(t, narrow, {5, 5, 1, 1}));
}

// Rows laid out from the other end of the buffer (a top-down RGB connection): every frame line
// shows what it shows in the format's own order, row classes included, so the fields keep
// their lines; padding stays untouched and nothing is written outside the buffer.
TEST_P(BackgroundCopy, ReversedRowsShowTheSameLinesFromTheOtherEnd) {
  Make(14, 10);
  for (int32_t rows : {10, 7}) {
    const Offsets o{4, -6, 2, 9};
    TestFrame normal(12, rows, bpp(), bottom_up(), 3);
    TestFrame reversed(12, rows, bpp(), bottom_up(), 3, true);
    ASSERT_TRUE(
        image.CopyWindow(normal.frame, o.even_column, o.odd_column, o.even_line, o.odd_line));
    ASSERT_TRUE(
        image.CopyWindow(reversed.frame, o.even_column, o.odd_column, o.even_line, o.odd_line));
    EXPECT_TRUE(ShowsWindow(reversed, image, o)) << rows << " rows";
    for (int64_t row = 0; row < rows; ++row) {
      // Stored row `row` of one is stored row rows - 1 - row of the other.
      EXPECT_EQ(0, std::memcmp(normal.frame.bytes + row * normal.frame.pitch,
                               reversed.frame.bytes + (rows - 1 - row) * reversed.frame.pitch,
                               12 * bpp()))
          << rows << " rows, row " << row;
      for (int64_t b = 12 * bpp(); row + 1 < rows && b < reversed.frame.pitch; ++b)
        ASSERT_EQ(reversed.frame.bytes[row * reversed.frame.pitch + b], test::kUntouched);
    }
    // The format's own first row now ends the buffer.
    const uint8_t* own_row0 = reversed.frame.bytes + (rows - 1) * reversed.frame.pitch;
    const int64_t line = bottom_up() ? rows - 1 : 0;
    EXPECT_EQ(own_row0[0], PatternByte(Mod(o.even_line + line, 10), o.even_column, 0));
  }
}

// Padded pitch: rows land at the pitch and the padding between them is left as it was.
TEST_P(BackgroundCopy, PaddedRowsKeepTheirPadding) {
  Make(9, 4);
  for (int32_t extra : {1, 3, 64}) {
    TestFrame t(7, 5, bpp(), bottom_up(), extra);
    ASSERT_TRUE(image.CopyWindow(t.frame, 8, 3, -1, 2));
    EXPECT_TRUE(ShowsWindow(t, image, {8, 3, -1, 2}));
    for (int64_t row = 0; row + 1 < t.frame.rows; ++row)
      for (int64_t b = 7 * bpp(); b < t.frame.pitch; ++b)
        ASSERT_EQ(t.frame.bytes[row * t.frame.pitch + b], test::kUntouched) << "row " << row;
  }
}

// Wrong arguments: an empty image or an unusable frame writes nothing and answers false.
TEST_P(BackgroundCopy, RefusesEmptyImageAndUnusableFrames) {
  FrameImage empty;
  TestFrame t(8, 4, bpp(), bottom_up());
  EXPECT_FALSE(empty.CopyWindow(t.frame, 0, 0, 0, 0));
  EXPECT_TRUE(t.AllUntouched());

  Make(8, 4);
  image.ReleasePixels();
  EXPECT_FALSE(image.CopyWindow(t.frame, 0, 0, 0, 0));
  EXPECT_TRUE(t.AllUntouched());

  Make(8, 4);
  auto refused = [&](FrameBuffer f) {
    EXPECT_FALSE(image.CopyWindow(f, 0, 0, 0, 0));
    EXPECT_TRUE(t.AllUntouched());
  };
  FrameBuffer f = t.frame;
  f.bytes = nullptr;
  refused(f);
  f = t.frame;
  f.size -= 1;  // last row one byte short
  refused(f);
  f = t.frame;
  f.pitch -= 1;
  refused(f);
  f = t.frame;
  f.pitch = -f.pitch;
  refused(f);
  f = t.frame;
  f.rows = 0;
  refused(f);
  f = t.frame;
  f.row_pixels = -8;
  refused(f);
  f = t.frame;  // rows × pitch beyond 32 bits
  f.row_pixels = INT32_MAX / 4;
  f.pitch = INT32_MAX;
  f.rows = INT32_MAX;
  refused(f);
}

INSTANTIATE_TEST_SUITE_P(Formats, BackgroundCopy, ::testing::ValuesIn(kFormats),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qp::synth
