// Background copy: the scrolled window of the background picture, per field, into a frame.
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif

#include "synth/frame_image.h"

namespace qp::synth {
namespace {

// Non-negative remainder for any int32 offset, INT32_MIN included.
int64_t Wrap(int32_t offset, int64_t period) {
  int64_t r = static_cast<int64_t>(offset) % period;
  return r < 0 ? r + period : r;
}

// Frames far larger than the processor's caches are written around them: the frame goes
// straight to the downstream, and a read of every destination line before it is written is
// saved. Small frames stay cached for whoever reads them next.
constexpr int64_t kStreamingFrameBytes = int64_t{2} << 20;

#if defined(__SSE2__)
constexpr int64_t kPrefetchAheadBytes = 1024;

void CopyStreaming(uint8_t* out, const uint8_t* from, int64_t bytes) {
  // Up to the first 16-byte boundary of the destination by plain copy.
  const int64_t head = static_cast<int64_t>((16 - (reinterpret_cast<uintptr_t>(out) & 15)) & 15);
  if (head >= bytes) {
    std::memcpy(out, from, static_cast<std::size_t>(bytes));
    return;
  }
  std::memcpy(out, from, static_cast<std::size_t>(head));
  out += head;
  from += head;
  bytes -= head;
  for (; bytes >= 64; bytes -= 64, out += 64, from += 64) {
    // After the worker's sleep between frames the picture is out of the nearer caches; asking
    // for it well ahead keeps enough reads in flight (prefetches never fault past the end).
    _mm_prefetch(reinterpret_cast<const char*>(from) + kPrefetchAheadBytes, _MM_HINT_T0);
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 32));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 48));
    _mm_stream_si128(reinterpret_cast<__m128i*>(out), a);
    _mm_stream_si128(reinterpret_cast<__m128i*>(out + 16), b);
    _mm_stream_si128(reinterpret_cast<__m128i*>(out + 32), c);
    _mm_stream_si128(reinterpret_cast<__m128i*>(out + 48), d);
  }
  std::memcpy(out, from, static_cast<std::size_t>(bytes));
}
#endif

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

#if defined(__SSE2__)
  const bool streaming = row_bytes * rows >= kStreamingFrameBytes;
#else
  const bool streaming = false;
#endif
  for (int64_t i = 0; i < rows; ++i) {
    const int k = static_cast<int>(i & 1);
    const uint8_t* stored_row = source + ((row_base[k] + i) % height) * image_stride;
    uint8_t* out = first_row + i * step;
    int64_t remaining = row_bytes;
    int64_t from = column[k] * bpp;
    while (remaining > 0) {
      const int64_t run = remaining < image_stride - from ? remaining : image_stride - from;
#if defined(__SSE2__)
      // A row in one piece only: a cache line shared by two pieces, written partly streamed
      // and partly cached, would cost more than streaming saves.
      if (streaming && run == row_bytes) {
        CopyStreaming(out, stored_row + from, run);
      } else {
        std::memcpy(out, stored_row + from, static_cast<std::size_t>(run));
      }
#else
      std::memcpy(out, stored_row + from, static_cast<std::size_t>(run));
#endif
      out += run;
      remaining -= run;
      from = 0;
    }
  }
#if defined(__SSE2__)
  // Streamed stores are ordered before the text drawn over them and the delivery.
  if (streaming) _mm_sfence();
#endif
  return true;
}

}  // namespace qp::synth
