#include "support/expected_frame.h"

#include "frame/frame_composition.h"
#include "frame/frame_layout.h"
#include "frame/frame_plan.h"

namespace qp::test {
namespace {

std::string Joined(const std::string& directory, const char* name) {
  if (directory.empty() || directory.back() == '/') return directory + name;
  return directory + "/" + name;
}

}  // namespace

ExpectedFrame::ExpectedFrame(const config::Preset& preset, const std::string& directory)
    : preset_(preset) {
  Load(Joined(directory, preset.bmp), Joined(directory, preset.font));
}

ExpectedFrame::ExpectedFrame(const config::Preset& preset, const std::string& background_path,
                             const std::string& sheet_path)
    : preset_(preset) {
  Load(background_path, sheet_path);
}

void ExpectedFrame::Load(const std::string& background_path, const std::string& sheet_path) {
  const config::Preset& p = preset_;
  ok_ = background_.LoadPicture(background_path.c_str(), p.w, p.h, p.compression, p.bit_count);
  if (!sheet_path.empty())
    ok_ = sheet_.LoadPicture(sheet_path.c_str(), 0, 0, p.compression, p.bit_count) && ok_;
  origin_y_ = frame::CentringOrigin(p, background_.height());
  stride_ = frame::AgreedStride(p);
  if (p.w <= 0 || p.h <= 0 || stride_ <= 0) {
    ok_ = false;
    return;
  }
  bytes_.assign(static_cast<std::size_t>(stride_) * p.h, 0);
  ok_ = frame::LayoutFrame(p, false, bytes_.data(), bytes_.size(), frame_) && ok_;
}

void ExpectedFrame::DrawBackground(int32_t frame_number) {
  frame::ComposeBackground(background_, preset_, origin_y_, frame_number, frame_);
}

void ExpectedFrame::DrawHeader(bool cpu_clock) {
  char header[frame::kTextSize];
  frame::FormatHeaderLine(header, preset_, cpu_clock);
  DrawHeaderText(header);
}

void ExpectedFrame::DrawHeaderText(const char* coded) {
  frame::DrawHeader(sheet_, preset_, frame_, coded);
}

bool ExpectedFrame::DrawStatus(int32_t frame_number, int32_t drops, int32_t clock_ms, double fps) {
  char status[frame::kTextSize];
  frame::FormatStatusLine(status, preset_.w, frame_number, drops, clock_ms, fps);
  frame::DrawStatus(sheet_, preset_, frame_, status);
  int32_t width = 0;
  int32_t height = 0;
  sheet_.MeasureText(status, width, height);
  return width <= preset_.w;
}

void ExpectedFrame::DrawText(int32_t x, int32_t y, const char* coded) {
  sheet_.DrawText(frame_, x, y, coded);
}

void ExpectedFrame::Draw(int32_t frame_number, int32_t drops, int32_t clock_ms, double fps) {
  DrawBackground(frame_number);
  DrawHeader();
  DrawStatus(frame_number, drops, clock_ms, fps);
}

check::FrameView ExpectedFrame::View() const {
  return check::ViewOfDib(bytes_.data(), bytes_.size(), preset_.w, preset_.h, preset_.compression,
                          preset_.bit_count);
}

}  // namespace qp::test
