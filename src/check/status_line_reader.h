// Reads the texts the source draws into every frame back out of a decoded frame: the status
// line at the top right (frame number, drop count, source clock, rate) and the header line at
// the bottom left. Glyph cells sit on a grid that the source's drawing fixes exactly (the
// status line ends at the right edge, the header starts at the left edge), so each cell is
// compared with the sheet's glyphs; uniform scaling of the recording is undone first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "check/frame_view.h"
#include "synth/frame_image.h"

namespace qp::check {

struct StatusReading {
  bool readable = false;    // false: nothing below may be trusted
  bool shortForm = false;   // the form of frames up to 480 pixels wide
  double confidence = 0.0;  // 0 to 1: the weakest cell's margin over its runner-up
  int32_t frame = 0;        // frame number since the stream started
  int32_t drops = 0;        // frames the source filled late, so far
  uint32_t clockMs = 0;     // the source's pacing clock when it filled the frame
  double fps = 0.0;         // the source's measured rate
};

struct HeaderReading {
  bool readable = false;
  double confidence = 0.0;
  std::string text;  // the cells from the left edge, trailing blanks removed
};

class StatusLineReader {
 public:
  // `sheet` is the glyph sheet in RGB (any bit count); the frame size is the one the source
  // drew in, before any scaling of the recording.
  StatusLineReader(const synth::FrameImage& sheet, int32_t sourceWidth, int32_t sourceHeight);

  bool IsUsable() const { return cellWidth_ > 0 && cellHeight_ > 0; }
  int32_t cellWidth() const { return cellWidth_; }
  int32_t cellHeight() const { return cellHeight_; }

  // A reading below this confidence is reported unreadable.
  static constexpr double kMinConfidence = 0.25;

  StatusReading ReadStatus(const FrameView& frame) const;
  HeaderReading ReadHeader(const FrameView& frame) const;

 private:
  struct Template {
    char code;
    std::vector<float> pixels;  // zero mean, unit norm; empty for a flat cell
  };
  // The recorded cell at source column x (row band from line y), resampled to one float per
  // glyph pixel.
  void SampleCell(const FrameView& frame, int32_t x, int32_t y, std::vector<float>& out) const;
  // Best code for the cell and its margin over the best other code.
  char ClassifyCell(const std::vector<float>& cell, const std::vector<const Template*>& set,
                    double& margin) const;
  // Reads `count` cells leftwards from the right edge (status) or rightwards from the left
  // edge (header); characters in reading order, left to right.
  std::string ReadCells(const FrameView& frame, bool fromRight, int32_t count, double& weakest) const;

  int32_t sourceWidth_ = 0;
  int32_t sourceHeight_ = 0;
  int32_t cellWidth_ = 0;
  int32_t cellHeight_ = 0;
  std::vector<Template> templates_;
};

}  // namespace qp::check
