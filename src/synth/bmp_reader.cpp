// BMP parsing. Every field is read little-endian from bounds-checked offsets and every size is
// computed in 64 bits, so that no header value can make the reader look outside the bytes it
// was given.
#include "synth/bmp_reader.h"

#include <fstream>
#include <new>

namespace qp::synth {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;    // BITMAPINFOHEADER
constexpr uint32_t kMaskedHeaderSize = 52;  // V2 and later carry the masks inside
constexpr uint32_t kCompressionRgb = 0;
constexpr uint32_t kCompressionBitFields = 3;

uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

int32_t ReadI32(const uint8_t* p) { return static_cast<int32_t>(ReadU32(p)); }

bool IsKnownInfoHeaderSize(uint32_t size) {
  // 40 info, 52 V2, 56 V3, 108 V4, 124 V5. 12 and 16/64 are the OS/2 headers.
  return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

// Parses the info header at `info` (within data[0, size)). `pixel_offset` is where the rows
// start, counted from `data`; 0 means "right after the header, masks and colour table", as in
// a packed DIB.
bool ParseInfo(const uint8_t* data, std::size_t size, std::size_t info, uint64_t pixel_offset,
               BmpPicture& picture) {
  if (size < info || size - info < 4) return false;
  const uint32_t header_size = ReadU32(data + info);
  if (!IsKnownInfoHeaderSize(header_size) || size - info < header_size) return false;
  const uint8_t* h = data + info;

  const int32_t width = ReadI32(h + 4);
  const int32_t raw_height = ReadI32(h + 8);
  const uint16_t planes = ReadU16(h + 12);
  const uint16_t bit_count = ReadU16(h + 14);
  const uint32_t compression = ReadU32(h + 16);
  const uint32_t colors_used = ReadU32(h + 32);

  if (width <= 0 || width > kMaxBmpSide) return false;
  // Compare in 64 bits: negating INT32_MIN would overflow.
  const int64_t height = raw_height < 0 ? -static_cast<int64_t>(raw_height) : raw_height;
  if (height == 0 || height > kMaxBmpSide) return false;
  if (planes != 1) return false;
  if (bit_count != 24 && bit_count != 32) return false;

  uint64_t masks_after_header = 0;
  if (compression == kCompressionBitFields) {
    if (bit_count != 32) return false;
    // Red, green, blue masks at byte 40: inside a V2 or later header, after a plain one.
    const std::size_t masks = info + kInfoHeaderSize;
    if (header_size < kMaskedHeaderSize) masks_after_header = 12;
    if (size - masks < 12) return false;
    const uint32_t red = ReadU32(data + masks);
    const uint32_t green = ReadU32(data + masks + 4);
    const uint32_t blue = ReadU32(data + masks + 8);
    if (red != 0x00FF0000u || green != 0x0000FF00u || blue != 0x000000FFu) return false;
  } else if (compression != kCompressionRgb) {
    return false;
  }

  if (pixel_offset == 0) {
    // Colour tables of 24/32-bit pictures are optional hints; the rows follow them.
    pixel_offset = info + header_size + masks_after_header + uint64_t{colors_used} * 4;
  } else if (pixel_offset < info + header_size + masks_after_header) {
    return false;  // pixels overlapping the headers
  }

  const int32_t bytes_per_pixel = bit_count / 8;
  const uint64_t row_bytes = (uint64_t(width) * bit_count + 31) / 32 * 4;
  // The last row need not carry its padding; no byte beyond the last pixel is read.
  const uint64_t needed = row_bytes * uint64_t(height - 1) + uint64_t(width) * bytes_per_pixel;
  if (pixel_offset > size || size - pixel_offset < needed) return false;

  const uint8_t* rows = data + pixel_offset;
  const std::ptrdiff_t step = static_cast<std::ptrdiff_t>(row_bytes);
  picture.width = width;
  picture.height = static_cast<int32_t>(height);
  picture.bytes_per_pixel = bytes_per_pixel;
  if (raw_height > 0) {
    picture.bottom_line = rows;
    picture.line_step = step;
  } else {
    picture.bottom_line = rows + step * (height - 1);
    picture.line_step = -step;
  }
  return true;
}

}  // namespace

bool ParseBmpFile(const uint8_t* data, std::size_t size, BmpPicture& picture) {
  if (data == nullptr || size < kFileHeaderSize + kInfoHeaderSize) return false;
  if (data[0] != 'B' || data[1] != 'M') return false;
  const uint32_t pixel_offset = ReadU32(data + 10);
  if (pixel_offset == 0) return false;
  return ParseInfo(data, size, kFileHeaderSize, pixel_offset, picture);
}

bool ParseBmpInfo(const uint8_t* data, std::size_t size, BmpPicture& picture) {
  if (data == nullptr) return false;
  return ParseInfo(data, size, 0, 0, picture);
}

bool ReadBmpFileBytes(const char* path, std::vector<uint8_t>& contents) {
  if (path == nullptr || path[0] == '\0') return false;
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  file.seekg(0, std::ios::end);
  const std::streamoff length = file.tellg();
  if (length < 0 || static_cast<uint64_t>(length) > kMaxBmpFileBytes) return false;
  file.seekg(0, std::ios::beg);
  try {
    std::vector<uint8_t> bytes(static_cast<std::size_t>(length));
    if (length > 0 && !file.read(reinterpret_cast<char*>(bytes.data()), length)) return false;
    contents.swap(bytes);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace qp::synth
