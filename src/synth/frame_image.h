// A picture held in the exact byte layout of the output pixel format (the background and the
// glyph sheet), so that composing a frame is nothing but byte copies. Pixels are never changed
// once built, so copies of an image share them (the picture cache hands out such copies).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "synth/frame_buffer.h"

namespace qp::synth {

class FrameImage {
 public:
  // Loads the BMP picture at `path` (on Windows a bitmap resource of the host executable of that
  // name first), tiled to cover at least requested_width × requested_height (0 × 0: native size),
  // converted to (format, bit_count). False leaves the image unchanged, except after the old
  // buffer was released (out of memory), when it holds no pixels.
  bool LoadPicture(const char* path, int32_t requested_width, int32_t requested_height,
                   uint32_t format, int32_t bit_count);
  // An all-zero picture of exactly width × height.
  bool CreateBlank(int32_t width, int32_t height, uint32_t format, int32_t bit_count);
  void ReleasePixels();
  // Null when the image holds no picture.
  const uint8_t* Pixels() const { return pixels_.get(); }

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  uint32_t format() const { return format_; }
  int32_t bytes_per_pixel() const { return bytes_per_pixel_; }
  int32_t stride() const { return stride_; }            // width × bytes_per_pixel; rows packed
  int32_t cell_width() const { return cell_width_; }    // width / 32
  int32_t cell_height() const { return cell_height_; }  // height / 16
  std::size_t PixelBytes() const { return pixels_ ? std::size_t(stride_) * height_ : 0; }

  // Background copy: fills the frame with the picture window at the given offsets (any int32,
  // wrapped into the picture), even frame rows from the even offsets, odd rows from the odd
  // ones. False, writing nothing, when the image has no pixels or the frame is unusable.
  bool CopyWindow(const FrameBuffer& frame, int32_t even_column, int32_t odd_column,
                  int32_t even_line, int32_t odd_line) const;

  // Glyph sheet: colour-coded text ("#w", "#r", "#g", "#b", "#y", "#i" select bands) drawn
  // cell by cell; x and y are the frame column and line from the top-left.
  void DrawText(const FrameBuffer& frame, int32_t x, int32_t y, const char* text) const;
  void MeasureText(const char* text, int32_t& text_width, int32_t& text_height) const;
  void DrawGlyph(const FrameBuffer& frame, int32_t x, int32_t y, int8_t code, int32_t band) const;

 private:
  std::shared_ptr<const uint8_t[]> pixels_;
  int32_t width_ = 0;
  int32_t height_ = 0;
  uint32_t format_ = 0;
  int32_t bytes_per_pixel_ = 0;
  int32_t stride_ = 0;
  int32_t cell_width_ = 0;
  int32_t cell_height_ = 0;
};

}  // namespace qp::synth
