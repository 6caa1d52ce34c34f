// The colour bands of the glyph sheet: each is three rows of 32 cells (codes 32..127), selected
// in a text by "#" and a letter. The drawing and the checker's reading share these rows.
#pragma once

#include <cstdint>

namespace qp::synth {

constexpr int32_t kSheetCellRows = 16;
constexpr int32_t kSheetCellColumns = 32;

// First cell row of each band.
constexpr int32_t kBandWhite = 0;
constexpr int32_t kBandRed = 3;
constexpr int32_t kBandGreen = 6;
constexpr int32_t kBandBlue = 9;
constexpr int32_t kBandYellow = 12;
constexpr int32_t kBandInverse = 15;  // only its first row is on the sheet

// The band "#" followed by `letter` selects, or -1 for no band letter.
constexpr int32_t BandOfLetter(char letter) {
  switch (letter) {
    case 'w':
    case 'W': return kBandWhite;
    case 'r':
    case 'R': return kBandRed;
    case 'g':
    case 'G': return kBandGreen;
    case 'b':
    case 'B': return kBandBlue;
    case 'y':
    case 'Y': return kBandYellow;
    case 'i':
    case 'I': return kBandInverse;
    default: return -1;
  }
}

// Cell row and column of `code` (32..126) in `band`; 64-bit, as a caller may pass any band.
constexpr int64_t GlyphCellRow(int64_t band, int32_t code) {
  return band + (code - 32) / kSheetCellColumns;
}
constexpr int32_t GlyphCellColumn(int32_t code) { return code % kSheetCellColumns; }

}  // namespace qp::synth
