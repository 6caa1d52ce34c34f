// What frame n shows where: the background window of each field, and where the two text lines
// stand. The stream draws from this plan and the checker expects it.
#pragma once

#include <cstdint>

#include "config/preset.h"

namespace qp::frame {

// The picture column and line shown at the frame's column 0 and line 0 of a field. Any int32:
// the picture wraps around in both directions.
struct Window {
  int32_t column = 0;
  int32_t line = 0;
  bool operator==(const Window& o) const { return column == o.column && line == o.line; }
};

struct FramePlan {
  Window top_field;     // the even lines counted from the top
  Window bottom_field;  // the odd lines; the same window in a progressive frame
};

// The picture line shown at the top of frame 0: a picture taller than the frame that does not
// scroll vertically is centred. Neither picture load makes the picture lower than the frame.
int32_t CentringOrigin(const config::Preset& preset, int32_t picture_height);

// The windows of frame `frame_number` (the stream's 32-bit count, wrapping): each frame moves
// by one scroll step; interlaced frames by two, their fields one step apart, field 1 (the top
// field) earlier in mode 1 and field 2 in mode 2. Offsets wrap in 32 bits.
FramePlan PlanFrame(const config::Preset& preset, int32_t origin_y, int32_t frame_number);

// The windows for the even and the odd frame rows numbered in the format's own order (RGB from
// the bottom, 4:2:2 from the top), as the background copy takes them. In an RGB frame of even
// height the top field is the odd rows.
struct RowWindows {
  Window even;
  Window odd;
};
RowWindows WindowsByRow(const FramePlan& plan, const config::Preset& preset, int32_t rows);

// Where a text line starts, in frame columns and lines from the top left.
struct TextPosition {
  int32_t x = 0;
  int32_t y = 0;
};
// The header line: at the left edge, its cells on the bottom line of cells.
TextPosition HeaderPosition(int32_t frame_height, int32_t cell_height);
// The status line (or its last `text_width` pixels): on the top line of cells, ending at the
// right edge.
TextPosition StatusPosition(int32_t frame_width, int32_t text_width);

}  // namespace qp::frame
