// Building frame images: loading, tiling and converting a picture once per stream start, or
// making a blank one. The copies out of the image live in background_copy.cpp and
// glyph_text.cpp.
#include "synth/frame_image.h"

#include <cstring>
#include <new>
#include <vector>

#include "platform/bitmap_resource.h"
#include "synth/bmp_reader.h"
#include "synth/pixel_format.h"

namespace qp::synth {
namespace {

// Limits that keep every size and offset far inside int32 and refuse absurd requests before
// anything is released: a requested or blank side of at most 32768 pixels (so a tiled side
// stays below 65536) and at most 256 MiB of pixels, e.g. a 7680 × 4320 RGB 32 background.
constexpr int32_t kMaxRequestedSide = 32768;
constexpr uint64_t kMaxImageBytes = uint64_t{256} << 20;

// The smallest whole multiple of `source` (> 0) not less than `requested`; `source` itself
// when it already covers the request. A request of 0 or less keeps the native size.
int64_t TiledSide(int32_t source, int32_t requested) {
  if (source >= requested) return source;
  return int64_t{source} * ((int64_t{requested} + source - 1) / source);
}

// At least 1 × 1 and within the byte budget; computed in 64 bits.
bool FitsBudget(int64_t width, int64_t height, int32_t bytes_per_pixel) {
  return width > 0 && height > 0 &&
         uint64_t(width) * uint64_t(height) * uint64_t(bytes_per_pixel) <= kMaxImageBytes;
}

// The picture comes from the host executable's resources first, then from the file; the file
// bytes, which `picture` points into, are kept in `file_bytes`.
bool ObtainPicture(const char* path, std::vector<uint8_t>& file_bytes, BmpPicture& picture) {
  const uint8_t* resource = nullptr;
  std::size_t resource_size = 0;
  if (platform::FindHostBitmapResource(path, resource, resource_size) &&
      ParseBmpInfo(resource, resource_size, picture)) {
    return true;
  }
  return ReadBmpFileBytes(path, file_bytes) &&
         ParseBmpFile(file_bytes.data(), file_bytes.size(), picture);
}

// RGB 32/24, rows bottom-up. `width` and `height` are whole multiples of the picture's; the
// fourth byte of RGB 32 is left as allocated (zero).
void FillRgb(uint8_t* pixels, int32_t width, int32_t height, int32_t bytes_per_pixel,
             const BmpPicture& picture) {
  const std::size_t stride = std::size_t(width) * bytes_per_pixel;
  const std::size_t tile = std::size_t(picture.width) * bytes_per_pixel;
  for (int32_t i = 0; i < height; ++i) {
    uint8_t* row = pixels + stride * i;
    if (i >= picture.height) {
      std::memcpy(row, pixels + stride * (i % picture.height), stride);
      continue;
    }
    const uint8_t* source = picture.Line(i);
    for (int32_t x = 0; x < picture.width; ++x) {
      const uint8_t* from = source + std::size_t(x) * picture.bytes_per_pixel;
      uint8_t* to = row + std::size_t(x) * bytes_per_pixel;
      to[0] = from[0];
      to[1] = from[1];
      to[2] = from[2];
    }
    for (std::size_t done = tile; done < stride; done += tile) std::memcpy(row + done, row, tile);
  }
}

// 4:2:2, rows top-down, pairs of columns (2k, 2k + 1) packed at byte 4k. The last pixel of an
// odd-width row is left as allocated (zero).
void FillPacked(uint8_t* pixels, int32_t width, int32_t height, PackPairFunction pack,
                const BmpPicture& picture) {
  const std::size_t stride = std::size_t(width) * 2;
  for (int32_t r = 0; r < height; ++r) {
    uint8_t* row = pixels + stride * r;
    if (r >= picture.height) {
      std::memcpy(row, pixels + stride * (r % picture.height), stride);
      continue;
    }
    // `height` is a whole multiple of the picture's, so line r from the top of the image is
    // line r from the top of the picture.
    const uint8_t* source = picture.Line(picture.height - 1 - r);
    int32_t x = 0;  // picture column of the pair's left pixel
    for (int32_t k = 0; k < width / 2; ++k) {
      const int32_t next = x + 1 == picture.width ? 0 : x + 1;
      pack(source + std::size_t(x) * picture.bytes_per_pixel,
           source + std::size_t(next) * picture.bytes_per_pixel, row + std::size_t(k) * 4);
      x = next + 1 == picture.width ? 0 : next + 1;
    }
  }
}

// Zeroed pixels behind a shared owner; null when either cannot be had.
std::shared_ptr<const uint8_t[]> NewPixels(std::size_t bytes, uint8_t*& writable) {
  writable = new (std::nothrow) uint8_t[bytes]();
  if (!writable) return nullptr;
  try {
    return std::shared_ptr<const uint8_t[]>(writable, std::default_delete<uint8_t[]>());
  } catch (const std::bad_alloc&) {
    return nullptr;  // the array was deleted by the failed constructor
  }
}

}  // namespace

bool FrameImage::LoadPicture(const char* path, int32_t requested_width, int32_t requested_height,
                             uint32_t format, int32_t bit_count) {
  const int32_t bytes_per_pixel = BytesPerPixel(format, bit_count);
  if (bytes_per_pixel == 0 || path == nullptr) return false;
  if (requested_width > kMaxRequestedSide || requested_height > kMaxRequestedSide) return false;

  std::vector<uint8_t> file_bytes;
  BmpPicture picture;
  if (!ObtainPicture(path, file_bytes, picture)) return false;

  const int64_t width = TiledSide(picture.width, requested_width);
  const int64_t height = TiledSide(picture.height, requested_height);
  if (!FitsBudget(width, height, bytes_per_pixel)) return false;

  ReleasePixels();
  width_ = static_cast<int32_t>(width);
  height_ = static_cast<int32_t>(height);
  format_ = format;
  bytes_per_pixel_ = bytes_per_pixel;
  stride_ = width_ * bytes_per_pixel;
  uint8_t* pixels = nullptr;
  pixels_ = NewPixels(std::size_t(width) * height * bytes_per_pixel, pixels);
  if (!pixels_) return false;

  if (format == kFormatRgb) {
    FillRgb(pixels, width_, height_, bytes_per_pixel, picture);
  } else {
    FillPacked(pixels, width_, height_, PackerFor(format), picture);
  }
  cell_width_ = width_ / 32;
  cell_height_ = height_ / 16;
  return true;
}

bool FrameImage::CreateBlank(int32_t width, int32_t height, uint32_t format, int32_t bit_count) {
  const int32_t bytes_per_pixel = BytesPerPixel(format, bit_count);
  if (bytes_per_pixel == 0) return false;
  // Sides of 0 or less are refused too: every reader of an image divides by its size.
  if (width > kMaxRequestedSide || height > kMaxRequestedSide) return false;
  if (!FitsBudget(width, height, bytes_per_pixel)) return false;

  format_ = format;
  width_ = width;
  height_ = height;
  bytes_per_pixel_ = bytes_per_pixel;
  stride_ = width * bytes_per_pixel;
  ReleasePixels();
  // All zero: black in RGB; in 4:2:2 luma 0 and chroma 0, matching an unbacked frame.
  uint8_t* pixels = nullptr;
  pixels_ = NewPixels(std::size_t(width) * height * bytes_per_pixel, pixels);
  if (!pixels_) return false;
  cell_width_ = width / 32;
  cell_height_ = height / 16;
  return true;
}

void FrameImage::ReleasePixels() { pixels_.reset(); }

}  // namespace qp::synth
