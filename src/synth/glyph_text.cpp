// Overlay text: colour-coded byte strings drawn cell by cell from the glyph sheet.
#include <cstdint>
#include <cstring>
#include <limits>

#include "synth/frame_image.h"
#include "synth/glyph_band.h"

namespace qp::synth {
namespace {

// Glyph rows are short (tens of bytes) and there are hundreds per text: fixed 8-byte moves,
// the last one overlapping, beat a library call per row.
inline void CopyShortRun(uint8_t* to, const uint8_t* from, std::size_t n) {
  if (n < 8) {
    std::memcpy(to, from, n);
    return;
  }
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) std::memcpy(to + i, from + i, 8);
  if (i < n) std::memcpy(to + n - 8, from + n - 8, 8);
}

// Copies one cell; the sheet and the frame have been checked, positions are 64-bit so that a
// pen far outside the frame cannot wrap around into it.
void CopyCell(const FrameImage& sheet, const FrameBuffer& frame, int64_t x, int64_t y, int32_t code,
              int32_t band) {
  const int64_t cw = sheet.cell_width();
  const int64_t ch = sheet.cell_height();
  if (x < 0 || y < 0 || x + cw > frame.row_pixels || y + ch > frame.rows) return;
  // Codes outside 32..126 have no glyph (127 would be cell column 31 of the third row).
  if (code < 32 || code > 126) return;
  const int64_t cell_row = GlyphCellRow(band, code);
  // Band 15 has only its first row on the sheet: codes 64..126 there draw nothing.
  if (band < 0 || cell_row >= kSheetCellRows) return;

  const int64_t bpp = sheet.bytes_per_pixel();
  const int64_t x0 = GlyphCellColumn(code) * cw;
  const int64_t y0 = cell_row * ch;
  // Lines from the top; RGB stores both pictures bottom-up, so their rows step downwards.
  const bool bottom_up = sheet.format() == 0;
  const int64_t sheet_row = bottom_up ? sheet.height() - 1 - y0 : y0;
  const int64_t frame_row = bottom_up ? frame.rows - 1 - y : y;
  const int64_t sheet_step = bottom_up ? -int64_t{sheet.stride()} : sheet.stride();
  const int64_t frame_step = bottom_up ? -RowStep(frame) : RowStep(frame);
  const uint8_t* from = sheet.Pixels() + sheet_row * sheet.stride() + x0 * bpp;
  uint8_t* to = RowStart(frame, frame_row) + x * bpp;
  const std::size_t run_bytes = static_cast<std::size_t>(cw * bpp);
  for (int64_t r = 0; r < ch; ++r)
    CopyShortRun(to + r * frame_step, from + r * sheet_step, run_bytes);
}

// True when the sheet holds a grid of non-empty cells that lie within its pixels.
bool SheetUsable(const FrameImage& sheet) {
  return sheet.Pixels() != nullptr && sheet.cell_width() > 0 && sheet.cell_height() > 0 &&
         sheet.bytes_per_pixel() > 0 &&
         static_cast<int64_t>(sheet.stride()) ==
             static_cast<int64_t>(sheet.width()) * sheet.bytes_per_pixel() &&
         static_cast<int64_t>(sheet.cell_width()) * kSheetCellColumns <= sheet.width() &&
         static_cast<int64_t>(sheet.cell_height()) * kSheetCellRows <= sheet.height();
}

int32_t Saturate(int64_t value) {
  return value > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                     : static_cast<int32_t>(value);
}

}  // namespace

void FrameImage::DrawGlyph(const FrameBuffer& frame, int32_t x, int32_t y, int8_t code,
                           int32_t band) const {
  if (!SheetUsable(*this) || !FrameFits(frame, bytes_per_pixel_)) return;
  CopyCell(*this, frame, x, y, static_cast<int32_t>(code), band);
}

// Glyphs that do not fit wholly inside the frame are skipped, but the pen still advances;
// bytes without a glyph leave the frame's pixels under their cell untouched.
void FrameImage::DrawText(const FrameBuffer& frame, int32_t x, int32_t y, const char* text) const {
  if (text == nullptr || !SheetUsable(*this) || !FrameFits(frame, bytes_per_pixel_)) return;
  int64_t pen_x = x;
  int64_t pen_y = y;
  int32_t band = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    char c = *p;
    if (c == '\n') {
      pen_x = x;
      pen_y += cell_height_;
      continue;
    }
    if (c == '#') {
      c = *++p;
      if (c == '\0') return;
      if (c != '#') {
        const int32_t selected = BandOfLetter(c);
        if (selected >= 0) band = selected;
        continue;
      }
    }
    CopyCell(*this, frame, pen_x, pen_y, static_cast<unsigned char>(c), band);
    pen_x += cell_width_;
  }
}

// Counts exactly the cells DrawText advances over: widest line by number of lines, in pixels,
// saturated at INT32_MAX for absurdly long texts.
void FrameImage::MeasureText(const char* text, int32_t& text_width, int32_t& text_height) const {
  int64_t width = 0;
  int64_t height = cell_height_;
  int64_t line = 0;
  for (const char* p = text; p != nullptr && *p != '\0'; ++p) {
    if (*p == '\n') {
      height += cell_height_;
      if (line > width) width = line;
      line = 0;
      continue;
    }
    if (*p == '#') {
      const char next = *++p;
      if (next == '\0') break;
      if (next == '#') line += cell_width_;
      continue;
    }
    line += cell_width_;
  }
  if (line > width) width = line;
  text_width = Saturate(width);
  text_height = Saturate(height);
}

}  // namespace qp::synth
