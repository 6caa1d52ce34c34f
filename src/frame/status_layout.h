// The cells of the status line, for every count of digits its numbers can have: the text is
// right-aligned at the frame's edge, so each variant fixes which cell holds a label, a blank,
// a point or a digit of which number. Written beside FormatStatusLine, whose formats it spells.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "frame/status_text.h"

namespace qp::frame {

enum class StatusField : int8_t {
  None,
  Frame,
  Drops,
  Hours,
  Minutes,
  Seconds,
  Millis,
  FpsWhole,
  FpsFraction
};
constexpr int kStatusFields = 9;

struct LayoutCell {
  char glyph = ' ';  // the label's or the point's character; ' ' for a blank; '0' for a digit
  StatusField field = StatusField::None;  // which number a digit belongs to
  bool yellow = false;                    // labels are drawn in yellow, numbers in white
  bool IsDigit() const { return field != StatusField::None; }
};

using StatusLayout = std::vector<LayoutCell>;  // left to right

// Every variant of the short form (frames up to 480 pixels wide) or the long form, with
// numbers of up to nine digits (frame and drop counts), four (hours) and three (whole fps).
std::vector<StatusLayout> StatusLayouts(bool short_form);

// What a status line says.
struct StatusValues {
  int32_t frame = 0;
  int32_t drops = 0;
  uint32_t clock_ms = 0;
  double fps = 0.0;
};

// The values of the numbers read from a layout's digit cells (each the decimal value of its
// field's digits, indexed by StatusField). False when they cannot be a drawn line's: minutes
// or seconds of 60 and more in the long form, counts beyond int32, a clock beyond 32 bits.
bool ValuesOfFields(const uint64_t (&fields)[kStatusFields], bool short_form, StatusValues& values);

// Reads drawn cells (DrawnCells of a status line) against the layouts of one form: the layout
// of the cells' length whose labels, blanks and points match them glyph and band (labels
// yellow, numbers white) and whose digit cells hold digits. False when none does. The layout's
// index in StatusLayouts(short_form) goes to `layout_index` when given.
bool ReadStatusCells(const std::vector<TextCell>& cells, bool short_form, StatusValues& values,
                     std::size_t* layout_index = nullptr);

}  // namespace qp::frame
