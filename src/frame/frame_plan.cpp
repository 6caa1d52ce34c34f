#include "frame/frame_plan.h"

namespace qp::frame {
namespace {

// origin + step·steps + extra, wrapping in 32 bits as the stream's counters do.
int32_t Offset(int32_t origin, int32_t step, uint32_t steps, int32_t extra) {
  return static_cast<int32_t>(static_cast<uint32_t>(origin) + static_cast<uint32_t>(step) * steps +
                              static_cast<uint32_t>(extra));
}

bool Interlaced(const config::Preset& preset) {
  return preset.interlaced == 1 || preset.interlaced == 2;
}

}  // namespace

int32_t CentringOrigin(const config::Preset& preset, int32_t picture_height) {
  if (preset.scroll_y != 0) return 0;
  return static_cast<int32_t>(
      (static_cast<uint32_t>(picture_height) - static_cast<uint32_t>(preset.h)) >> 1);
}

FramePlan PlanFrame(const config::Preset& preset, int32_t origin_y, int32_t frame_number) {
  const uint32_t n = static_cast<uint32_t>(frame_number);
  const int32_t sx = preset.scroll_x;
  const int32_t sy = preset.scroll_y;
  FramePlan plan;
  if (!Interlaced(preset)) {
    plan.top_field = {Offset(0, sx, n, 0), Offset(origin_y, sy, n, 0)};
    plan.bottom_field = plan.top_field;
    return plan;
  }
  const Window early{Offset(0, sx, 2 * n, 0), Offset(origin_y, sy, 2 * n, 0)};
  const Window late{Offset(0, sx, 2 * n, sx), Offset(origin_y, sy, 2 * n, sy)};
  plan.top_field = preset.interlaced == 1 ? early : late;
  plan.bottom_field = preset.interlaced == 1 ? late : early;
  return plan;
}

RowWindows WindowsByRow(const FramePlan& plan, const config::Preset& preset, int32_t rows) {
  const bool top_field_odd = preset.compression == config::kFormatRgb && rows % 2 == 0;
  return top_field_odd ? RowWindows{plan.bottom_field, plan.top_field}
                       : RowWindows{plan.top_field, plan.bottom_field};
}

TextPosition HeaderPosition(int32_t frame_height, int32_t cell_height) {
  return {0, static_cast<int32_t>(int64_t{frame_height} - cell_height)};
}

TextPosition StatusPosition(int32_t frame_width, int32_t text_width) {
  return {static_cast<int32_t>(int64_t{frame_width} - text_width), 0};
}

}  // namespace qp::frame
