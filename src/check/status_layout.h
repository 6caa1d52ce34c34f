// The cells of the status line the source draws, for every count of digits its numbers can
// have: the text is right-aligned at the frame's edge, so each variant fixes which cell holds
// a label, a blank, a point or a digit of which number.
#pragma once

#include <cstdint>
#include <vector>

namespace qp::check {

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

}  // namespace qp::check
