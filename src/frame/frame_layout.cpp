#include "frame/frame_layout.h"

#include "synth/pixel_format.h"

namespace qp::frame {

int64_t AgreedStride(const config::Preset& preset) {
  return (int64_t{preset.w} * (preset.bit_count / 8) + 3) & ~int64_t{3};
}

bool RowsReversed(const config::Preset& preset, bool top_down_connection) {
  return top_down_connection && preset.compression == config::kFormatRgb;
}

bool LayoutFrame(const config::Preset& preset, bool top_down_connection, uint8_t* buffer,
                 std::size_t size, synth::FrameBuffer& frame) {
  const int64_t width = preset.w;
  const int64_t height = preset.h;
  const int64_t bytes_per_pixel = preset.bit_count / 8;
  if (width <= 0 || height <= 0 || bytes_per_pixel <= 0 ||
      synth::BytesPerPixel(preset.compression, preset.bit_count) != bytes_per_pixel)
    return false;
  const uint64_t stride = static_cast<uint64_t>(AgreedStride(preset));
  int64_t row_pixels = width;
  uint64_t pitch = stride;
  // The first test keeps the product below 2^63: `size` comes from a 32-bit long.
  if (stride > size || stride * static_cast<uint64_t>(height) > size) {
    const uint64_t buffer_row_pixels = size / static_cast<uint64_t>(height) / bytes_per_pixel;
    if (buffer_row_pixels == 0) return false;
    pitch = buffer_row_pixels * bytes_per_pixel;
    if (static_cast<int64_t>(buffer_row_pixels) < row_pixels) row_pixels = buffer_row_pixels;
  }
  frame.bytes = buffer;
  frame.size = size;
  frame.row_pixels = static_cast<int32_t>(row_pixels);
  frame.rows = static_cast<int32_t>(height);
  frame.pitch = static_cast<int32_t>(pitch);
  frame.reversed = RowsReversed(preset, top_down_connection);
  return true;
}

}  // namespace qp::frame
