// What the tool knows of a video media type: size, pixel format, frame time and interlacing,
// read from a VIDEOINFOHEADER or VIDEOINFOHEADER2 block, plus ownership of task-memory types.
#pragma once

#include <strmif.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

namespace qpcap {

// Frees a media type record the way its producer allocated it: the format block and the
// record in COM task memory, pUnk released.
struct MediaTypeDeleter {
  void operator()(AM_MEDIA_TYPE* type) const;
};
using MediaTypePtr = std::unique_ptr<AM_MEDIA_TYPE, MediaTypeDeleter>;

// Frees only the members of a record that lives elsewhere (for example on the stack).
void FreeMediaTypeMembers(AM_MEDIA_TYPE& type);

struct VideoFormat {
  int width = 0;
  int height = 0;  // As in the bitmap header: positive is bottom-up for RGB.
  GUID subtype{};
  DWORD compression = 0;
  int bit_count = 0;
  REFERENCE_TIME frame_time = 0;    // 100 ns; 0 when the type does not say.
  bool has_interlace_info = false;  // Only a VIDEOINFOHEADER2 carries the flags.
  DWORD interlace_flags = 0;
  BITMAPINFOHEADER header{};

  // Bytes in one frame; the bitmap header's own figure when it gives one.
  uint32_t ImageSize() const;
  bool IsRgb() const { return compression == BI_RGB; }
  std::string PixelFormatName() const;
  std::string InterlaceText() const;
  double FramesPerSecond() const;
};

// False when the type is not video or carries no video-information block.
bool ReadVideoFormat(const AM_MEDIA_TYPE& type, VideoFormat& format);

// "1280x720 YUY2 29.97 fps progressive".
std::string DescribeFormat(const VideoFormat& format);

}  // namespace qpcap
