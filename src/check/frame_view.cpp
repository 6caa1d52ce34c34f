#include "check/frame_view.h"

#include <cstring>

#include "synth/pixel_format_code.h"

namespace qp::check {

uint8_t FrameView::Luma(int32_t x, int32_t y) const {
  if (model == ColourModel::YCbCr) return Sample(0, x, y);
  // 0.299, 0.587, 0.114 in 1/256: enough for telling glyphs apart.
  const uint32_t r = Sample(0, x, y), g = Sample(1, x, y), b = Sample(2, x, y);
  return static_cast<uint8_t>((77 * r + 150 * g + 29 * b + 128) >> 8);
}

bool IsUsable(const FrameView& view) {
  if (view.width <= 0 || view.height <= 0) return false;
  for (const ComponentPlane& p : view.planes) {
    if (p.data == nullptr || p.step <= 0) return false;
    if (p.x_shift < 0 || p.x_shift > 1 || p.y_shift < 0 || p.y_shift > 1) return false;
  }
  return true;
}

FrameView ViewOfPacked422(const uint8_t* data, std::ptrdiff_t row_stride, int32_t width,
                          int32_t height, const char* fourcc) {
  FrameView view;
  if (fourcc == nullptr) return view;
  // Byte offsets of Y0, Cb and Cr within a pixel pair.
  int y = 0, cb = 0, cr = 0;
  if (std::strncmp(fourcc, "YUY2", 4) == 0) {
    y = 0, cb = 1, cr = 3;
  } else if (std::strncmp(fourcc, "YVYU", 4) == 0) {
    y = 0, cb = 3, cr = 1;
  } else if (std::strncmp(fourcc, "UYVY", 4) == 0 || std::strncmp(fourcc, "HDYC", 4) == 0) {
    y = 1, cb = 0, cr = 2;
  } else {
    return view;
  }
  view.width = width;
  view.height = height;
  view.model = ColourModel::YCbCr;
  view.planes[0] = {data + y, row_stride, 2, 0, 0};
  view.planes[1] = {data + cb, row_stride, 4, 1, 0};
  view.planes[2] = {data + cr, row_stride, 4, 1, 0};
  return view;
}

FrameView ViewOfBgr(const uint8_t* data, std::ptrdiff_t row_stride, int32_t width, int32_t height,
                    int32_t bytes_per_pixel, bool bottom_up) {
  FrameView view;
  if (data == nullptr || (bytes_per_pixel != 3 && bytes_per_pixel != 4) || height <= 0) return view;
  const uint8_t* top =
      bottom_up ? data + static_cast<std::ptrdiff_t>(height - 1) * row_stride : data;
  const std::ptrdiff_t stride = bottom_up ? -row_stride : row_stride;
  view.width = width;
  view.height = height;
  view.model = ColourModel::Rgb;
  view.planes[0] = {top + 2, stride, bytes_per_pixel, 0, 0};
  view.planes[1] = {top + 1, stride, bytes_per_pixel, 0, 0};
  view.planes[2] = {top + 0, stride, bytes_per_pixel, 0, 0};
  return view;
}

FrameView ViewOfRgb24(const uint8_t* data, std::ptrdiff_t row_stride, int32_t width,
                      int32_t height) {
  FrameView view;
  if (data == nullptr) return view;
  view.width = width;
  view.height = height;
  view.model = ColourModel::Rgb;
  view.planes[0] = {data + 0, row_stride, 3, 0, 0};
  view.planes[1] = {data + 1, row_stride, 3, 0, 0};
  view.planes[2] = {data + 2, row_stride, 3, 0, 0};
  return view;
}

std::size_t DibFrameBytes(int32_t width, int32_t height, uint32_t compression, int32_t bit_count) {
  const int64_t rows = height < 0 ? -int64_t{height} : height;
  if (width <= 0 || rows <= 0 || width > 65536 || rows > 65536) return 0;
  int64_t stride = 0;
  if (compression == synth::kFormatRgb) {
    if (bit_count != 24 && bit_count != 32) return 0;
    stride = (int64_t{width} * (bit_count / 8) + 3) & ~int64_t{3};
  } else {
    if (!synth::IsPacked422(compression)) return 0;
    stride = (int64_t{width} + 1) / 2 * 4;
  }
  return static_cast<std::size_t>(stride * rows);
}

FrameView ViewOfDib(const uint8_t* data, std::size_t size, int32_t width, int32_t height,
                    uint32_t compression, int32_t bit_count) {
  const std::size_t bytes = DibFrameBytes(width, height, compression, bit_count);
  if (data == nullptr || bytes == 0 || bytes > size) return {};
  const int32_t rows = height < 0 ? -height : height;
  const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(bytes / static_cast<std::size_t>(rows));
  if (compression == synth::kFormatRgb)
    return ViewOfBgr(data, stride, width, rows, bit_count / 8, height > 0);
  // 4:2:2 rows run top-down whatever the height's sign says.
  return ViewOfPacked422(data, stride, width, rows, synth::FormatName(compression, 16));
}

FrameView ViewOfPlanarYCbCr(const uint8_t* y, std::ptrdiff_t y_stride, const uint8_t* cb,
                            std::ptrdiff_t cbStride, const uint8_t* cr, std::ptrdiff_t cr_stride,
                            int32_t width, int32_t height, int32_t x_shift, int32_t y_shift) {
  FrameView view;
  view.width = width;
  view.height = height;
  view.model = ColourModel::YCbCr;
  view.planes[0] = {y, y_stride, 1, 0, 0};
  view.planes[1] = {cb, cbStride, 1, x_shift, y_shift};
  view.planes[2] = {cr, cr_stride, 1, x_shift, y_shift};
  return view;
}

}  // namespace qp::check
