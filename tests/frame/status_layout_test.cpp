// The status line's writer against its layouts: every line written, across the digit widths of
// each number in both forms, is read back cell for cell to the values written, and every
// layout the reader may choose is one the writer produces.
#include "frame/status_layout.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "frame/status_text.h"
#include "synth/glyph_band.h"

namespace qp::frame::test {
namespace {

// 1 to 9 digits.
const std::vector<int32_t> kCounts = {0,      12,      345,      6789,     10000,
                                      999999, 1234567, 98765432, 999999999};
const std::vector<double> kRates = {0.0, 29.97, 120.5};

std::vector<TextCell> Written(int32_t width, int32_t frame, int32_t drops, uint32_t clock_ms,
                              double fps) {
  char text[kTextSize];
  FormatStatusLine(text, width, frame, drops, static_cast<int32_t>(clock_ms), fps);
  return DrawnCells(text);
}

void ExpectRoundTrip(int32_t width, int32_t frame, int32_t drops, uint32_t clock_ms, double fps,
                     std::set<std::size_t>& used) {
  StatusValues read;
  std::size_t index = 0;
  ASSERT_TRUE(
      ReadStatusCells(Written(width, frame, drops, clock_ms, fps), ShortForm(width), read, &index))
      << frame << " " << drops << " " << clock_ms << " " << fps;
  EXPECT_EQ(read.frame, frame);
  EXPECT_EQ(read.drops, drops);
  EXPECT_EQ(read.clock_ms, clock_ms);
  EXPECT_NEAR(read.fps, fps, 0.0051);
  used.insert(index);
}

// Every combination of the counts, `clocks` and rates at `width` reads back, and together they
// use every layout of the width's form.
void ExpectEveryLineReadsBack(int32_t width, const std::vector<uint32_t>& clocks) {
  std::set<std::size_t> used;
  for (int32_t frame : kCounts)
    for (int32_t drops : kCounts)
      for (uint32_t clock : clocks)
        for (double fps : kRates) ExpectRoundTrip(width, frame, drops, clock, fps, used);
  EXPECT_EQ(used.size(), StatusLayouts(ShortForm(width)).size());
}

TEST(StatusLayout, EveryLineReadsBackAndEveryLayoutIsWritten) {
  // Short form: whole seconds of 1 to 7 digits, up to the clock's last millisecond.
  ExpectEveryLineReadsBack(480, {0, 12345, 123456, 1234567, 12345678, 123456789, 4294967295u});
  // Long form: hours of 1 to 4 digits, up to 1193 h 02 m 47 s 295 ms.
  ExpectEveryLineReadsBack(482, {0, 59999 + 3540000, 36000000 + 7, 360000000 + 61000, 4294967295u});
}

TEST(StatusLayout, ReadsNoLineThatWasNotWrittenSo) {
  StatusValues read;
  std::vector<TextCell> cells = Written(1280, 33, 1, 61000, 29.97);
  ASSERT_TRUE(ReadStatusCells(cells, false, read));
  // The other form's layouts, a label in white, a digit in yellow, a cut line.
  EXPECT_FALSE(ReadStatusCells(cells, true, read));
  std::vector<TextCell> white_label = cells;
  white_label[0].band = synth::kBandWhite;
  EXPECT_FALSE(ReadStatusCells(white_label, false, read));
  std::vector<TextCell> yellow_digit = cells;
  yellow_digit[5].band = synth::kBandYellow;
  EXPECT_FALSE(ReadStatusCells(yellow_digit, false, read));
  EXPECT_FALSE(ReadStatusCells({cells.begin() + 1, cells.end()}, false, read));
  // Sixty minutes is no clock the writer shows.
  std::vector<TextCell> minutes = cells;
  char text[kTextSize];
  FormatStatusLine(text, 1280, 33, 1, 61000, 29.97);
  const std::string plain = PlainText(text);
  minutes[plain.find('h', plain.find("Time")) + 1].glyph = '6';
  EXPECT_FALSE(ReadStatusCells(minutes, false, read));
  EXPECT_FALSE(ReadStatusCells({}, true, read));
}

TEST(DrawnCells, BandCodesSelectTheBandAndDrawNothing) {
  const std::vector<TextCell> cells = DrawnCells("a#yb##c#xd#");
  ASSERT_EQ(cells.size(), 5u);
  EXPECT_EQ(cells[0].glyph, 'a');
  EXPECT_EQ(cells[0].band, synth::kBandWhite);
  EXPECT_EQ(cells[1].glyph, 'b');
  EXPECT_EQ(cells[1].band, synth::kBandYellow);
  EXPECT_EQ(cells[2].glyph, '#');
  EXPECT_EQ(cells[3].glyph, 'c');
  // An unknown letter keeps the band.
  EXPECT_EQ(cells[4].glyph, 'd');
  EXPECT_EQ(cells[4].band, synth::kBandYellow);
  EXPECT_EQ(PlainText("#yA##B#xC#"), "A#BC");
  EXPECT_TRUE(DrawnCells(nullptr).empty());
}

}  // namespace
}  // namespace qp::frame::test
