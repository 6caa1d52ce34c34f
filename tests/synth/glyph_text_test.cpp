// Overlay text from a glyph sheet: which cell each byte draws, where the pen goes, what is
// clipped at the frame's edges, and that nothing is written outside the frame.
#include <climits>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "synth/frame_image.h"
#include "frame_test_pattern.h"

namespace qp::synth {
namespace {

using test::kFormats;
using test::kUntouched;
using test::PatternByte;
using test::PixelFormat;
using test::TestFrame;

// 256 × 128 sheet: 8 × 8 cells.
constexpr int32_t kCell = 8;

class GlyphText : public ::testing::TestWithParam<PixelFormat> {
 protected:
  void SetUp() override { ASSERT_TRUE(test::MakePatternImage(sheet, 256, 128, GetParam())); }
  TestFrame Frame(int32_t row_pixels, int32_t rows, int32_t extra_pitch = 0,
                  bool reversed = false) const {
    return TestFrame(row_pixels, rows, GetParam().bit_count / 8, GetParam().format == 0,
                     extra_pitch, reversed);
  }
  FrameImage sheet;
};

// The frame's cell at (x, y) holds the sheet's cell at cell column `code` mod 32, cell row
// `cell_row`.
::testing::AssertionResult HasCell(const TestFrame& t, int64_t x, int64_t y, int code, int cell_row,
                                   int64_t cw = kCell, int64_t ch = kCell) {
  for (int64_t r = 0; r < ch; ++r)
    for (int64_t c = 0; c < cw; ++c)
      for (int64_t k = 0; k < t.bpp; ++k)
        if (t.At(y + r, x + c, k) != PatternByte(cell_row * ch + r, (code % 32) * cw + c, k))
          return ::testing::AssertionFailure() << "cell line " << r << " column " << c;
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult Untouched(const TestFrame& t, int64_t x, int64_t y, int64_t w = kCell,
                                     int64_t h = kCell) {
  for (int64_t r = 0; r < h; ++r)
    for (int64_t c = 0; c < w; ++c)
      for (int64_t k = 0; k < t.bpp; ++k)
        if (t.At(y + r, x + c, k) != kUntouched)
          return ::testing::AssertionFailure() << "line " << y + r << " column " << x + c;
  return ::testing::AssertionSuccess();
}

// Counts frame pixels that were written.
int64_t Written(const TestFrame& t) {
  int64_t n = 0;
  for (int64_t line = 0; line < t.frame.rows; ++line)
    for (int64_t c = 0; c < t.frame.row_pixels; ++c)
      if (t.At(line, c, 0) != kUntouched) ++n;
  return n;
}

// Exact cells: "A" in band 12 is sheet columns 8..15, lines 104..111 from the top; y = 0 is
// the frame's top line, the end of the buffer in RGB.
TEST_P(GlyphText, GlyphComesFromItsCell) {
  TestFrame t = Frame(40, 24);
  sheet.DrawGlyph(t.frame, 16, 0, 'A', 12);
  for (int64_t r = 0; r < kCell; ++r)
    for (int64_t c = 0; c < kCell; ++c)
      ASSERT_EQ(t.At(r, 16 + c, 0), PatternByte(104 + r, 8 + c, 0));
  EXPECT_EQ(Written(t), kCell * kCell);
  const int64_t top_row = GetParam().format == 0 ? t.frame.rows - 1 : 0;
  EXPECT_EQ(t.frame.bytes[top_row * t.frame.pitch + 16 * t.bpp], PatternByte(104, 8, 0));

  TestFrame u = Frame(40, 24);
  sheet.DrawGlyph(u.frame, 0, 8, ' ', 0);
  sheet.DrawGlyph(u.frame, 8, 8, '0', 3);
  sheet.DrawGlyph(u.frame, 16, 8, '~', 9);
  EXPECT_TRUE(HasCell(u, 0, 8, ' ', 0));
  EXPECT_TRUE(HasCell(u, 8, 8, '0', 3));
  EXPECT_TRUE(HasCell(u, 16, 8, '~', 11));
}

// Cell size by truncating division: a 250 × 100 sheet has 7 × 6 cells.
TEST_P(GlyphText, OddSheetSizeTruncatesCells) {
  FrameImage odd;
  ASSERT_TRUE(test::MakePatternImage(odd, 250, 100, GetParam()));
  ASSERT_EQ(odd.cell_width(), 7);
  ASSERT_EQ(odd.cell_height(), 6);
  TestFrame t = Frame(20, 10);
  odd.DrawGlyph(t.frame, 2, 1, 'A', 12);
  EXPECT_TRUE(HasCell(t, 2, 1, 'A', 13, 7, 6));
  EXPECT_EQ(Written(t), 7 * 6);
}

// Band codes: they take no space, either case selects, the band survives line feeds, "##" is a
// glyph, an unknown letter is dropped with its "#", and "#" at the end ends the text.
TEST_P(GlyphText, BandCodesSelectRowsAndTakeNoSpace) {
  TestFrame t = Frame(64, 24);
  sheet.DrawText(t.frame, 0, 0, "#yFR#w12");
  EXPECT_TRUE(HasCell(t, 0, 0, 'F', 13));
  EXPECT_TRUE(HasCell(t, 8, 0, 'R', 13));
  EXPECT_TRUE(HasCell(t, 16, 0, '1', 0));
  EXPECT_TRUE(HasCell(t, 24, 0, '2', 0));
  EXPECT_TRUE(Untouched(t, 32, 0, 32, 8));

  TestFrame u = Frame(64, 24);
  sheet.DrawText(u.frame, 0, 0, "#Ga\nb#xc##d#\nz#");
  EXPECT_TRUE(HasCell(u, 0, 0, 'a', 8));
  EXPECT_TRUE(HasCell(u, 0, 8, 'b', 8));   // band kept across the line feed
  EXPECT_TRUE(HasCell(u, 8, 8, 'c', 8));   // "#x" dropped, band kept
  EXPECT_TRUE(HasCell(u, 16, 8, '#', 6));  // "##" is one glyph
  EXPECT_TRUE(HasCell(u, 24, 8, 'd', 8));
  EXPECT_TRUE(HasCell(u, 32, 8, 'z', 8));  // "#\n" swallowed the line feed
  EXPECT_EQ(Written(u), 6 * kCell * kCell);

  TestFrame v = Frame(64, 24);
  sheet.DrawText(v.frame, 0, 0, "#r!#b?#");
  EXPECT_TRUE(HasCell(v, 0, 0, '!', 3));
  EXPECT_TRUE(HasCell(v, 8, 0, '?', 9));
  EXPECT_EQ(Written(v), 2 * kCell * kCell);
}

// Band 15 has only its first cell row on the sheet: codes 32..63 draw, the rest draw nothing;
// bands or codes that would reach beyond the sheet never read it.
TEST_P(GlyphText, CellsBeyondTheSheetDrawNothing) {
  TestFrame t = Frame(64, 16);
  sheet.DrawText(t.frame, 0, 0, "#i5Aa5");
  EXPECT_TRUE(HasCell(t, 0, 0, '5', 15));
  EXPECT_TRUE(Untouched(t, 8, 0, 16, 8));
  EXPECT_TRUE(HasCell(t, 24, 0, '5', 15));

  TestFrame u = Frame(16, 16);
  for (int32_t band : {14, 16, -1, -3, INT32_MAX, INT32_MIN})
    sheet.DrawGlyph(u.frame, 0, 0, 'a', band);
  EXPECT_TRUE(u.AllUntouched());
  sheet.DrawGlyph(u.frame, 0, 0, 'A', 14);  // row 15 exists
  EXPECT_TRUE(HasCell(u, 0, 0, 'A', 15));
}

// Bytes without a glyph (controls, 127, 128..255) leave their cell untouched but move the pen;
// DrawGlyph refuses such codes whatever their sign.
TEST_P(GlyphText, BytesWithoutGlyphAdvanceThePen) {
  TestFrame t = Frame(64, 8);
  sheet.DrawText(t.frame, 0, 0,
                 "a\tb\xE9"
                 "c\x7F"
                 "d\x01");
  EXPECT_TRUE(HasCell(t, 0, 0, 'a', 2));
  EXPECT_TRUE(Untouched(t, 8, 0));
  EXPECT_TRUE(HasCell(t, 16, 0, 'b', 2));
  EXPECT_TRUE(Untouched(t, 24, 0));
  EXPECT_TRUE(HasCell(t, 32, 0, 'c', 2));
  EXPECT_TRUE(Untouched(t, 40, 0));
  EXPECT_TRUE(HasCell(t, 48, 0, 'd', 2));
  EXPECT_TRUE(Untouched(t, 56, 0));

  TestFrame u = Frame(8, 8);
  for (int code : {0, 1, 9, 31, 127, -1, -23, -128})
    sheet.DrawGlyph(u.frame, 0, 0, static_cast<int8_t>(code), 0);
  EXPECT_TRUE(u.AllUntouched());
}

// Clipping: a glyph is drawn whole or not at all; the pen keeps moving across skipped cells.
TEST_P(GlyphText, GlyphsThatDoNotFitAreSkipped) {
  TestFrame t = Frame(30, 20);
  sheet.DrawGlyph(t.frame, 22, 12, 'X', 0);  // touches the right and bottom edges exactly
  EXPECT_TRUE(HasCell(t, 22, 12, 'X', 1));
  const int64_t before = Written(t);
  sheet.DrawGlyph(t.frame, 23, 0, 'X', 0);  // one column too far right
  sheet.DrawGlyph(t.frame, 0, 13, 'X', 0);  // one line too low
  sheet.DrawGlyph(t.frame, -1, 0, 'X', 0);
  sheet.DrawGlyph(t.frame, 0, -1, 'X', 0);
  sheet.DrawGlyph(t.frame, INT32_MAX, INT32_MAX, 'X', 0);
  sheet.DrawGlyph(t.frame, INT32_MIN, 0, 'X', 0);
  EXPECT_EQ(Written(t), before);

  // A line wider than the frame starting at a negative column: the first glyphs are skipped,
  // the rest drawn at their places.
  TestFrame u = Frame(24, 8);
  sheet.DrawText(u.frame, -12, 0, "abcde");
  EXPECT_TRUE(HasCell(u, 4, 0, 'c', 2));
  EXPECT_TRUE(HasCell(u, 12, 0, 'd', 2));
  EXPECT_TRUE(Untouched(u, 0, 0, 4, 8));
  EXPECT_TRUE(Untouched(u, 20, 0, 4, 8));

  // Pens near the ends of the int32 range neither wrap into the frame nor overflow.
  TestFrame v = Frame(24, 16);
  sheet.DrawText(v.frame, INT32_MAX - 10, 0, "abcdef\nabc");
  sheet.DrawText(v.frame, INT32_MIN, INT32_MAX - 3, "abc\n\n\nabc");
  sheet.DrawText(v.frame, 0, INT32_MAX - 8, "a\na\na");
  EXPECT_TRUE(v.AllUntouched());
}

// Padded pitch: glyph rows land at the pitch and padding stays untouched.
TEST_P(GlyphText, PaddedRowsKeepTheirPadding) {
  TestFrame t = Frame(16, 16, 5);
  sheet.DrawText(t.frame, 0, 0, "ab\ncd");
  EXPECT_TRUE(HasCell(t, 0, 0, 'a', 2));
  EXPECT_TRUE(HasCell(t, 8, 8, 'd', 2));
  for (int64_t row = 0; row + 1 < t.frame.rows; ++row)
    for (int64_t b = 16 * t.bpp; b < t.frame.pitch; ++b)
      ASSERT_EQ(t.frame.bytes[row * t.frame.pitch + b], kUntouched);
}

// Rows laid out from the other end of the buffer: the text stays upright at its place, the
// top line of a cell in the row the reversed order puts the frame's top line in.
TEST_P(GlyphText, ReversedRowsKeepTextUpright) {
  TestFrame t = Frame(16, 20, 3, true);
  sheet.DrawText(t.frame, 0, 4, "ab\ncd");
  EXPECT_TRUE(HasCell(t, 0, 4, 'a', 2));
  EXPECT_TRUE(HasCell(t, 8, 12, 'd', 2));
  EXPECT_EQ(Written(t), 4 * kCell * kCell);
  const int64_t row = GetParam().format == 0 ? 4 : 20 - 1 - 4;
  EXPECT_EQ(t.frame.bytes[row * t.frame.pitch], PatternByte(2 * kCell, ('a' % 32) * kCell, 0));
}

// Wrong arguments: an empty sheet, a null text or an unusable frame draws nothing.
TEST_P(GlyphText, RefusesEmptySheetAndUnusableFrames) {
  TestFrame t = Frame(16, 8);
  FrameImage empty;
  empty.DrawText(t.frame, 0, 0, "ab");
  empty.DrawGlyph(t.frame, 0, 0, 'a', 0);
  sheet.DrawText(t.frame, 0, 0, nullptr);
  FrameBuffer f = t.frame;
  f.size -= 1;
  sheet.DrawText(f, 0, 0, "ab");
  f = t.frame;
  f.pitch -= 1;
  sheet.DrawGlyph(f, 0, 0, 'a', 0);
  f = t.frame;
  f.bytes = nullptr;
  sheet.DrawText(f, 0, 0, "ab");
  EXPECT_TRUE(t.AllUntouched());
  FrameImage narrow;  // narrower than 32 pixels: cells of width 0
  ASSERT_TRUE(test::MakePatternImage(narrow, 31, 128, GetParam()));
  narrow.DrawText(t.frame, 0, 0, "ab");
  EXPECT_TRUE(t.AllUntouched());
}

INSTANTIATE_TEST_SUITE_P(Formats, GlyphText, ::testing::ValuesIn(kFormats),
                         [](const auto& info) { return std::string(info.param.name); });

// MeasureText counts the cells DrawText advances over: widest line by number of lines.
TEST(GlyphMeasure, CountsCellsLikeDrawText) {
  FrameImage sheet;
  ASSERT_TRUE(test::MakePatternImage(sheet, 256, 128, kFormats[0]));
  struct Case {
    const char* text;
    int32_t cells_wide, lines_high;
  };
  const Case cases[] = {
      {"ab\ncde", 3, 2}, {"", 0, 1},     {"a\n", 1, 2},         {"#yFR#w12", 4, 1},
      {"##", 1, 1},      {"#x", 0, 1},   {"ab#", 2, 1},         {"a#\nb", 2, 1},
      {"\t\xE9", 2, 1},  {"\n\n", 0, 3}, {"abcd\nx\nyz", 4, 3},
  };
  for (const Case& c : cases) {
    int32_t w = -1, h = -1;
    sheet.MeasureText(c.text, w, h);
    EXPECT_EQ(w, c.cells_wide * kCell) << c.text;
    EXPECT_EQ(h, c.lines_high * kCell) << c.text;
  }
  int32_t w = -1, h = -1;
  sheet.MeasureText(nullptr, w, h);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, kCell);

  // Right-aligned with the measured width, the last glyph ends exactly at the frame's edge.
  const char* status = "#w1#r(4)#y5.0";
  sheet.MeasureText(status, w, h);
  TestFrame t(64, 8, 4, true);
  sheet.DrawText(t.frame, 64 - w, 0, status);
  EXPECT_TRUE(HasCell(t, 56, 0, '0', 12));
  EXPECT_EQ(64 - w, 8);
  EXPECT_TRUE(HasCell(t, 8, 0, '1', 0));
  EXPECT_EQ(Written(t), 7 * kCell * kCell);
}

}  // namespace
}  // namespace qp::synth
