// Background copy: the scrolled window of the background picture, per field, into a frame.
#include <cstdint>
#include <cstring>

#include "synth/frame_image.h"
#include "synth/streaming_copy.h"

namespace qp::synth {
namespace {

// Non-negative remainder for any int32 offset, INT32_MIN included.
int64_t Wrap(int32_t offset, int64_t period) {
  int64_t r = static_cast<int64_t>(offset) % period;
  return r < 0 ? r + period : r;
}

}  // namespace

// Frame layout: row i starts at RowStart(frame, i); only the first row_pixels × bytes_per_pixel
// bytes of a row are pixels. Bytes between that and the pitch are padding, left as they are.
// Frame column c shows picture column (x + c) mod width, also when the frame is wider than the
// picture (then a row takes more than two runs).
bool FrameImage::CopyWindow(const FrameBuffer& frame, int32_t even_column, int32_t odd_column,
                            int32_t even_line, int32_t odd_line) const {
  const uint8_t* source = pixels_.get();
  if (source == nullptr || width_ <= 0 || height_ <= 0 || bytes_per_pixel_ <= 0) return false;
  const int64_t bpp = bytes_per_pixel_;
  const int64_t image_stride = static_cast<int64_t>(width_) * bpp;
  if (stride_ != image_stride) return false;

  if (!FrameFits(frame, bpp)) return false;
  const int64_t row_bytes = static_cast<int64_t>(frame.row_pixels) * bpp;
  // Reversed rows are written walking back from the buffer's end: the same single pass.
  uint8_t* const first_row = RowStart(frame, 0);
  const int64_t step = RowStep(frame);

  const int64_t width = width_;
  const int64_t height = height_;
  const int64_t rows = frame.rows;
  const bool bottom_up = format_ == 0;  // RGB; the 4:2:2 formats are stored top-down

  // Per row class: first picture column, and the stored image row that buffer row 0 would take.
  int64_t column[2] = {Wrap(even_column, width), Wrap(odd_column, width)};
  int64_t row_base[2];
  const int32_t line[2] = {even_line, odd_line};
  for (int k = 0; k < 2; ++k) {
    const int64_t y = Wrap(line[k], height);
    // Bottom-up: buffer row rows-1 is the frame's top line and must show picture line y,
    // which is stored row height-1-y; so buffer row i takes stored row (base + i) mod height.
    row_base[k] = bottom_up ? height - (rows + y) % height : y;
  }

  const bool streaming = StreamsFrame(row_bytes * rows);
  for (int64_t i = 0; i < rows; ++i) {
    const int k = static_cast<int>(i & 1);
    const uint8_t* stored_row = source + ((row_base[k] + i) % height) * image_stride;
    uint8_t* out = first_row + i * step;
    int64_t remaining = row_bytes;
    int64_t from = column[k] * bpp;
    while (remaining > 0) {
      const int64_t run = remaining < image_stride - from ? remaining : image_stride - from;
      // A row in one piece only: a cache line shared by two pieces, written partly streamed
      // and partly cached, would cost more than streaming saves.
      if (streaming && run == row_bytes) {
        StreamingCopy(out, stored_row + from, run);
      } else {
        std::memcpy(out, stored_row + from, static_cast<std::size_t>(run));
      }
      out += run;
      remaining -= run;
      from = 0;
    }
  }
  // Streamed stores are ordered before the text drawn over them and the delivery.
  if (streaming) EndStreamingCopies();
  return true;
}

}  // namespace qp::synth
