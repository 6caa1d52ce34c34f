#include "frame/frame_composition.h"

#include "frame/frame_plan.h"

namespace qp::frame {

bool ComposeBackground(const synth::FrameImage& picture, const config::Preset& preset,
                       int32_t origin_y, int32_t frame_number, const synth::FrameBuffer& frame) {
  const FramePlan plan = PlanFrame(preset, origin_y, frame_number);
  const RowWindows rows = WindowsByRow(plan, preset, frame.rows);
  return picture.CopyWindow(frame, rows.even.column, rows.odd.column, rows.even.line,
                            rows.odd.line);
}

void DrawHeader(const synth::FrameImage& sheet, const config::Preset& preset,
                const synth::FrameBuffer& frame, const char* header) {
  const TextPosition at = HeaderPosition(preset.h, sheet.cell_height());
  sheet.DrawText(frame, at.x, at.y, header);
}

void DrawStatus(const synth::FrameImage& sheet, const config::Preset& preset,
                const synth::FrameBuffer& frame, const char* status) {
  int32_t text_width = 0;
  int32_t text_height = 0;
  sheet.MeasureText(status, text_width, text_height);
  const TextPosition at = StatusPosition(preset.w, text_width);
  sheet.DrawText(frame, at.x, at.y, status);
}

}  // namespace qp::frame
