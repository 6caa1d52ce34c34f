// A decoded frame as the checker sees it: three colour components, each with its own
// sampling grid, so that packed 4:2:2, planar 4:2:0 and 4:4:4, and RGB of any byte order
// are read in place without a conversion pass.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qp::check {

// Sample (x, y) of the component's own grid lies at data[y * row_stride + x * step]. The grid
// is the frame's size shifted right by x_shift and y_shift (rounded up): 4:2:0 chroma has both
// shifts 1, 4:2:2 chroma only x_shift. A negative row_stride walks a bottom-up picture.
struct ComponentPlane {
  const uint8_t* data = nullptr;
  std::ptrdiff_t row_stride = 0;
  int32_t step = 1;
  int32_t x_shift = 0;
  int32_t y_shift = 0;
};

enum class ColourModel { Rgb, YCbCr };

struct FrameView {
  int32_t width = 0;
  int32_t height = 0;
  ColourModel model = ColourModel::YCbCr;
  ComponentPlane planes[3];  // R, G, B or Y, Cb, Cr

  uint8_t Sample(int32_t component, int32_t x, int32_t y) const {
    const ComponentPlane& p = planes[component];
    return p.data[static_cast<std::ptrdiff_t>(y >> p.y_shift) * p.row_stride +
                  static_cast<std::ptrdiff_t>(x >> p.x_shift) * p.step];
  }
  // Y' of the pixel: the luma plane, or BT.601 weights over RGB.
  uint8_t Luma(int32_t x, int32_t y) const;
};

// True when every plane is present, the size is positive and the shifts are 0 or 1.
bool IsUsable(const FrameView& view);

// Views over common layouts. `fourcc` of the packed 4:2:2 one is "YUY2", "YVYU", "UYVY" or
// "HDYC" (byte order of UYVY) as four characters; an unknown name gives an unusable view.
FrameView ViewOfPacked422(const uint8_t* data, std::ptrdiff_t row_stride, int32_t width,
                          int32_t height, const char* fourcc);
// Blue, green, red (and a fourth byte when bytes_per_pixel is 4) per pixel, as Windows stores
// RGB; bottom_up when the first stored row is the bottom of the picture.
FrameView ViewOfBgr(const uint8_t* data, std::ptrdiff_t row_stride, int32_t width, int32_t height,
                    int32_t bytes_per_pixel, bool bottom_up);
// Red, green, blue bytes per pixel, top row first.
FrameView ViewOfRgb24(const uint8_t* data, std::ptrdiff_t row_stride, int32_t width,
                      int32_t height);
// A frame as Windows media types describe it: BI_RGB (0) with 24 or 32 bits, rows padded to
// 4 bytes, bottom-up for a positive height; or a packed 4:2:2 FOURCC (YUY2, YVYU, UYVY, HDYC)
// read as a little-endian code, always top-down. Unusable when the format is another or
// `size` bytes do not hold the frame.
FrameView ViewOfDib(const uint8_t* data, std::size_t size, int32_t width, int32_t height,
                    uint32_t compression, int32_t bit_count);
// The bytes such a frame takes; 0 for a format or size ViewOfDib does not read.
std::size_t DibFrameBytes(int32_t width, int32_t height, uint32_t compression, int32_t bit_count);
FrameView ViewOfPlanarYCbCr(const uint8_t* y, std::ptrdiff_t y_stride, const uint8_t* cb,
                            std::ptrdiff_t cbStride, const uint8_t* cr, std::ptrdiff_t cr_stride,
                            int32_t width, int32_t height, int32_t x_shift, int32_t y_shift);

}  // namespace qp::check
