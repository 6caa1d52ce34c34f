// Test pictures whose every byte tells where it came from, and exact-size frame buffers whose
// bytes can be read back by frame position, for the background-copy and glyph tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "synth/frame_buffer.h"
#include "synth/frame_image.h"

namespace qp::synth::test {

constexpr uint32_t kYuy2 = 0x32595559;
constexpr uint8_t kUntouched = 0xA5;  // frame bytes before drawing; no pattern byte avoids it

struct PixelFormat {
  const char* name;
  uint32_t format;
  int32_t bit_count;
};
constexpr PixelFormat kFormats[] = {{"RGB32", 0, 32}, {"RGB24", 0, 24}, {"YUY2", kYuy2, 16}};

// Byte k of the pixel at picture column `column`, line `line` counted from the top.
inline uint8_t PatternByte(int64_t line, int64_t column, int64_t k) {
  uint32_t h = static_cast<uint32_t>(line) * 0x9E3779B1u ^
               static_cast<uint32_t>(column) * 0x85EBCA77u ^ static_cast<uint32_t>(k) * 0xC2B2AE3Du;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 13;
  const uint8_t b = static_cast<uint8_t>(h);
  return b == kUntouched ? 0x5A : b;
}

// A blank image of the given size filled with PatternByte in its own row order (RGB
// bottom-up). The buffer behind Pixels() belongs to the image and is not itself const.
inline bool MakePatternImage(FrameImage& image, int32_t width, int32_t height,
                             const PixelFormat& f) {
  if (!image.CreateBlank(width, height, f.format, f.bit_count)) return false;
  uint8_t* pixels = const_cast<uint8_t*>(image.Pixels());
  const int64_t bpp = image.bytes_per_pixel();
  for (int64_t s = 0; s < height; ++s) {
    const int64_t line = f.format == 0 ? height - 1 - s : s;
    for (int64_t c = 0; c < width; ++c)
      for (int64_t k = 0; k < bpp; ++k)
        pixels[s * image.stride() + c * bpp + k] = PatternByte(line, c, k);
  }
  return true;
}

// A frame buffer that ends exactly where its last row's pixels end, so that any write past
// it lands outside the allocation (AddressSanitizer in the native build). `bottom_up` is the
// format's own row order; `reversed` lays the rows out from the other end of the buffer.
struct TestFrame {
  TestFrame(int32_t row_pixels, int32_t rows, int32_t bytes_per_pixel, bool bottom_up,
            int32_t extra_pitch = 0, bool reversed = false)
      : bpp(bytes_per_pixel), bottom_up(bottom_up), stored_bottom_up(bottom_up != reversed) {
    frame.row_pixels = row_pixels;
    frame.rows = rows;
    frame.reversed = reversed;
    frame.pitch = row_pixels * bytes_per_pixel + extra_pitch;
    frame.size = static_cast<std::size_t>(rows - 1) * frame.pitch +
                 static_cast<std::size_t>(row_pixels) * bytes_per_pixel;
    storage.reset(new uint8_t[frame.size]);
    std::memset(storage.get(), kUntouched, frame.size);
    frame.bytes = storage.get();
  }
  // Byte k of the pixel at frame column `column`, line `line` from the top.
  uint8_t At(int64_t line, int64_t column, int64_t k) const {
    const int64_t row = stored_bottom_up ? frame.rows - 1 - line : line;
    return frame.bytes[row * frame.pitch + column * bpp + k];
  }
  bool AllUntouched() const {
    for (std::size_t i = 0; i < frame.size; ++i)
      if (frame.bytes[i] != kUntouched) return false;
    return true;
  }

  std::unique_ptr<uint8_t[]> storage;
  FrameBuffer frame;
  int32_t bpp;
  bool bottom_up;
  bool stored_bottom_up;  // where line 0 lies in memory: last row when true
};

}  // namespace qp::synth::test
