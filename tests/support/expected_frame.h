// A frame drawn as the stream draws it, from the frame code itself: for the tests and tools
// that need frames of known content (the checker's tests, recordings for qpcheck). Rows lie in
// the buffer as a bottom-up connection takes them, at the agreed stride.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "check/frame_view.h"
#include "config/preset.h"
#include "frame/status_text.h"
#include "synth/frame_buffer.h"
#include "synth/frame_image.h"

namespace qp::test {

class ExpectedFrame {
 public:
  // The preset's pictures from `directory` (its `bmp` and `font`).
  ExpectedFrame(const config::Preset& preset, const std::string& directory);
  // Pictures named by path; an empty sheet path draws no text.
  ExpectedFrame(const config::Preset& preset, const std::string& background_path,
                const std::string& sheet_path);

  // False when a picture failed to load or the preset has no drawable frame.
  bool ok() const { return ok_; }

  // The background of frame n, as the stream places it.
  void DrawBackground(int32_t frame_number);
  // The preset's header line on the given clock, or a coded text in its place.
  void DrawHeader(bool cpu_clock = true);
  void DrawHeaderText(const char* coded);
  // The status line; returns false when it is wider than the frame.
  bool DrawStatus(int32_t frame_number, int32_t drops, int32_t clock_ms, double fps);
  // Coded text anywhere, x and y from the top left.
  void DrawText(int32_t x, int32_t y, const char* coded);
  // Background, header and status line of frame n.
  void Draw(int32_t frame_number, int32_t drops, int32_t clock_ms, double fps);

  // Rows bottom-up for RGB, top-down for 4:2:2.
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  std::vector<uint8_t>& bytes() { return bytes_; }
  int64_t stride() const { return stride_; }
  const synth::FrameImage& sheet() const { return sheet_; }
  const synth::FrameImage& background() const { return background_; }
  check::FrameView View() const;

 private:
  void Load(const std::string& background_path, const std::string& sheet_path);

  config::Preset preset_;
  synth::FrameImage background_;
  synth::FrameImage sheet_;
  int32_t origin_y_ = 0;
  int64_t stride_ = 0;
  std::vector<uint8_t> bytes_;
  synth::FrameBuffer frame_{};
  bool ok_ = false;
};

}  // namespace qp::test
