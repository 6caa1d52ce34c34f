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
#include "frame/frame_plan.h"
#include "frame/status_layout.h"
#include "synth/frame_image.h"

namespace qp::check {

struct StatusReading {
  bool readable = false;    // false: nothing below may be trusted
  bool short_form = false;  // the form of frames up to 480 pixels wide
  double confidence = 0.0;  // 0 to 1: the weakest frame or drop digit's margin over its runner-up
  bool clock_readable = false;    // the clock's digits are as clear as the frame number's
  double clock_confidence = 0.0;  // the same for the clock's digits
  int32_t frame = 0;              // frame number since the stream started
  int32_t drops = 0;              // frames the source filled late, so far
  uint32_t clock_ms = 0;          // the source's pacing clock when it filled the frame
  double fps = 0.0;               // the source's measured rate
  double fit = 0.0;               // share of the line's glyph contrast the reading explains
  std::string cells;              // what the cells at the right end looked like, for diagnosis
};

struct HeaderReading {
  std::string text;             // one character per cell from the left edge, picture included
  std::vector<double> margins;  // each cell's confidence, as for the status line
};

// True when the header's cells spell `expected` (plain text) from the left edge, allowing a
// few spoilt cells but no confidently different digit.
bool HeaderMatches(const HeaderReading& header, const std::string& expected);

class StatusLineReader {
 public:
  // `sheet` is the glyph sheet in RGB (any bit count); the frame size is the one the source
  // drew in, before any scaling of the recording.
  StatusLineReader(const synth::FrameImage& sheet, int32_t source_width, int32_t source_height);

  bool IsUsable() const { return cell_width_ > 0 && cell_height_ > 0; }
  int32_t cell_width() const { return cell_width_; }
  int32_t cell_height() const { return cell_height_; }

  // A reading below this confidence is reported unreadable.
  static constexpr double kMinConfidence = 0.25;
  // Nor is one whose chosen text explains less than this share of the cells' contrast.
  static constexpr double kMinFit = 0.25;

  // Below a fifth of the source's size a glyph cell is two pixels wide: nothing to read.
  static constexpr double kMinScale = 0.2;

  StatusReading ReadStatus(const FrameView& frame) const;
  // More cells than any header the source draws.
  static constexpr int32_t kMaxHeaderCells = 96;

  // The first `cells` cells of the bottom row (at most the frame's width).
  HeaderReading ReadHeader(const FrameView& frame, int32_t cells = kMaxHeaderCells) const;

 private:
  struct Glyph {
    char code = ' ';
    int32_t band = 0;
    std::vector<float> pixels;  // luma, cell_width × cell_height, top line first
  };
  struct Candidate {
    char code;
    std::vector<float> pixels;  // the glyph as the recording's scaling shows it at one cell,
                                // less the cell background
    double energy;              // sum of the squares of `pixels`
  };
  struct Fit {
    double contrast = 0.0;  // recorded levels per sheet level for this glyph
    double error = 0.0;     // squared error of the cell against the fitted glyph
  };
  struct CellResult {
    char code = '?';
    double margin = 0.0;
  };

  const Glyph* Find(int32_t band, char code) const;
  // Where the k-th cell from the status line's right end (k = 0: the last) begins.
  frame::TextPosition StatusCell(int32_t k) const;
  bool CanRead(const FrameView& frame) const;
  void Scale(const FrameView& frame, double& sx, double& sy) const;
  // The recorded cell whose top-left source pixel is (x, y), one luma value per glyph pixel.
  void SampleCell(const FrameView& frame, int32_t x, int32_t y, std::vector<float>& out) const;
  std::vector<float> Blurred(const Glyph& glyph, int32_t x, int32_t y, double sx, double sy) const;
  std::vector<Candidate> Candidates(const FrameView& frame, int32_t x, int32_t y,
                                    const std::vector<const Glyph*>& set) const;
  // The status cells' candidates for this recording size, made once.
  const std::vector<std::vector<Candidate>>& StatusCandidates(const FrameView& frame) const;
  void Score(const std::vector<float>& cell, const std::vector<Candidate>& set, float gain,
             float offset, std::vector<Fit>& fits) const;
  static double Margin(const std::vector<Candidate>& set, const std::vector<Fit>& fits,
                       std::size_t pick, std::size_t other);
  CellResult Classify(const std::vector<float>& cell, const std::vector<Candidate>& set, float gain,
                      float offset) const;
  // The recording's luma for the sheet's background and ink: recorded ≈ gain × sheet + offset.
  bool Levels(const FrameView& frame, float& gain, float& offset) const;

  int32_t source_width_ = 0;
  int32_t source_height_ = 0;
  int32_t cell_width_ = 0;
  int32_t cell_height_ = 0;
  float background_ = 0.0f;
  float ink_ = 0.0f;
  std::vector<Glyph> glyphs_;
  std::vector<frame::StatusLayout> layouts_;
  std::string status_codes_;               // the glyphs a status cell is compared with
  std::size_t candidate_index_[128] = {};  // character → index in status_codes_
  std::size_t blank_index_ = 0;
  mutable int32_t cached_width_ = 0;
  mutable int32_t cached_height_ = 0;
  mutable std::vector<std::vector<Candidate>> status_candidates_;
  mutable int32_t header_width_ = 0;
  mutable int32_t header_height_ = 0;
  mutable std::vector<std::vector<Candidate>> header_candidates_;
};

}  // namespace qp::check
