// The background check: how closely a recorded frame's background matches the window the
// source drew for that frame number, and which colour handling explains the recorded values.
// The expected window is rebuilt from the preset's picture the way the source builds it, so no
// reference recording is needed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "check/frame_view.h"
#include "config/preset.h"

namespace qp::check {

// Colour handling hypotheses. The first four are the matrix × range pairs that a Y'CbCr
// conversion may use and index ColourVerdict::error; Rgb means no matrix was involved.
enum class ColourHandling : int32_t {
  Unknown = -1,
  Bt601Limited = 0,
  Bt601Full = 1,
  Bt709Limited = 2,
  Bt709Full = 3,
  Rgb = 4,
};
constexpr int32_t kColourHypotheses = 4;

// "BT.601 limited", "BT.601 full", "BT.709 limited", "BT.709 full", "RGB" or "unknown".
const char* ColourHandlingName(ColourHandling handling);

struct ColourVerdict {
  ColourHandling likely = ColourHandling::Unknown;  // the best-fitting hypothesis
  // What the source's format implies for this recording: BT.601 limited (YUY2, YVYU, UYVY),
  // BT.709 limited (HDYC), Rgb for an RGB recording of an RGB preset, Unknown when any matrix
  // is legitimate (a Y'CbCr recording of an RGB preset).
  ColourHandling implied = ColourHandling::Unknown;
  bool matches = false;  // likely is the implied handling, or the source implies none
  // RMS error per hypothesis in 8-bit code values (Y'CbCr when both the source and the
  // recording are Y'CbCr, RGB otherwise); -1 when not evaluated.
  double error[kColourHypotheses] = {-1.0, -1.0, -1.0, -1.0};
  double rgb_error = -1.0;  // RGB recording of an RGB preset: the direct RGB error
  int32_t samples = 0;      // compared pixels; 0 when the frame could not be judged
  const char* Name() const { return ColourHandlingName(likely); }
};

// Psnr results that are not a measurement: no usable frame, picture or sample point.
constexpr double kPsnrUnavailable = -1.0;
// The ceiling, also given for an exact match.
constexpr double kPsnrIdentical = 100.0;

// One matcher per preset and thread: the calls cache what the next frame can reuse.
class BackgroundMatcher {
 public:
  BackgroundMatcher() = default;
  BackgroundMatcher(const config::Preset& preset, const std::string& directory,
                    int32_t cell_height);

  // Loads the preset's `bmp` from `directory` as the source does (a picture that fails to load
  // is all-zero bytes in the preset's format). `cell_height` is the height of the text rows at
  // the top and bottom, which are left out of every comparison. False when the preset cannot
  // be drawn at all (bad size or format); every result is then unavailable. A picture that
  // failed to load is not a failure here: see picture_loaded().
  bool Load(const config::Preset& preset, const std::string& directory, int32_t cell_height);
  bool ready() const { return ready_; }
  bool picture_loaded() const { return picture_loaded_; }

  // PSNR in dB of the frame's luma against the window of `frame_number`, over a sparse grid
  // outside the text rows. The frame may be any size (taken as uniformly scaled from the
  // preset's), RGB or Y'CbCr with subsampled chroma. Luma is compared in the source's terms:
  // Y' by the source's matrix for a 4:2:2 preset (an RGB recording is re-encoded with it),
  // BT.601 luma of RGB for an RGB preset, and for a Y'CbCr recording of an RGB preset Y' by
  // the best-fitting matrix and range.
  double Psnr(const FrameView& frame, int32_t frame_number);

  // The colour handling that best explains the frame's values, over the same grid.
  ColourVerdict JudgeColour(const FrameView& frame, int32_t frame_number);

 private:
  // A recording axis sample: its coordinate and the source pixel its centre maps to, less the
  // axis's common fraction of a pixel (which the filtered picture absorbs).
  struct AxisSample {
    int32_t recorded;
    int32_t source;
  };
  struct Window {
    int32_t column[2];  // picture column of frame column 0, for even and odd frame lines
    int32_t line[2];    // picture line of frame line 0, likewise
    bool operator==(const Window& o) const {
      return column[0] == o.column[0] && column[1] == o.column[1] && line[0] == o.line[0] &&
             line[1] == o.line[1];
    }
  };

  bool PrepareFor(const FrameView& frame, int32_t frame_number);
  void BuildGrid(int32_t recorded_width, int32_t recorded_height);
  void BuildFiltered(double x_factor, double y_factor, double x_phase, double y_phase);
  Window WindowOf(int32_t frame_number) const;
  void Gather(const Window& window);

  bool ready_ = false;
  bool picture_loaded_ = false;
  int32_t w_ = 0;
  int32_t h_ = 0;
  uint32_t compression_ = 0;
  config::Preset preset_{};  // the windows' scroll steps and field order
  int32_t origin_y_ = 0;
  int32_t cell_height_ = 0;

  // The picture, top line first, 4 bytes per pixel: R, G, B or Y', Cb, Cr (each pixel with its
  // 4:2:2 pair's chroma), then an unused byte.
  int32_t picture_width_ = 0;
  int32_t picture_height_ = 0;
  std::vector<uint8_t> picture_;
  // The picture resampled at the recording's scale and the grid's fraction of a pixel; empty
  // when the recording has the preset's size.
  std::vector<uint8_t> filtered_;

  // Sampling grid for the recording size in grid_width_ × grid_height_.
  int32_t grid_width_ = 0;
  int32_t grid_height_ = 0;
  std::vector<AxisSample> columns_;
  std::vector<AxisSample> rows_;

  // Expected source values (3 per grid point, rows then columns) for `gathered_`.
  bool have_gathered_ = false;
  Window gathered_{};
  std::vector<float> expected_;
};

}  // namespace qp::check
