#include "video_format.h"

#include <amvideo.h>
#include <dvdmedia.h>
#include <uuids.h>

#include <cstdio>
#include <cstdlib>

namespace qpcap {

void FreeMediaTypeMembers(AM_MEDIA_TYPE& type) {
  if (type.cbFormat != 0) CoTaskMemFree(type.pbFormat);
  type.cbFormat = 0;
  type.pbFormat = nullptr;
  if (type.pUnk) type.pUnk->Release();
  type.pUnk = nullptr;
}

void MediaTypeDeleter::operator()(AM_MEDIA_TYPE* type) const {
  if (!type) return;
  FreeMediaTypeMembers(*type);
  CoTaskMemFree(type);
}

bool ReadVideoFormat(const AM_MEDIA_TYPE& type, VideoFormat& format) {
  if (type.majortype != MEDIATYPE_Video || !type.pbFormat) return false;
  format = VideoFormat{};
  if (type.formattype == FORMAT_VideoInfo2 && type.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
    const auto* info = reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat);
    format.header = info->bmiHeader;
    format.frame_time = info->AvgTimePerFrame;
    format.has_interlace_info = true;
    format.interlace_flags = info->dwInterlaceFlags;
  } else if (type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
    const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
    format.header = info->bmiHeader;
    format.frame_time = info->AvgTimePerFrame;
  } else {
    return false;
  }
  format.width = format.header.biWidth;
  format.height = format.header.biHeight;
  format.compression = format.header.biCompression;
  format.bit_count = format.header.biBitCount;
  format.subtype = type.subtype;
  return true;
}

uint32_t VideoFormat::ImageSize() const {
  if (header.biSizeImage != 0) return header.biSizeImage;
  const uint32_t row = ((uint32_t(std::abs(width)) * uint32_t(bit_count) + 31) / 32) * 4;
  return row * uint32_t(std::abs(height));
}

std::string VideoFormat::PixelFormatName() const {
  if (IsRgb()) return "RGB" + std::to_string(bit_count);
  char fourcc[5] = {};
  for (int i = 0; i < 4; ++i) {
    const char c = char((compression >> (8 * i)) & 0xFF);
    fourcc[i] = (c >= 32 && c < 127) ? c : '?';
  }
  return fourcc;
}

std::string VideoFormat::InterlaceText() const {
  // A VIDEOINFOHEADER has no field for it.
  if (!has_interlace_info) return "not signalled";
  if (!(interlace_flags & AMINTERLACE_IsInterlaced)) return "progressive";
  return (interlace_flags & AMINTERLACE_Field1First) ? "interlaced, field 1 first"
                                                     : "interlaced, field 2 first";
}

double VideoFormat::FramesPerSecond() const {
  return frame_time > 0 ? 1e7 / double(frame_time) : 0.0;
}

std::string DescribeFormat(const VideoFormat& format) {
  char text[160];
  std::snprintf(text, sizeof text, "%dx%d %s %.2f fps %s", format.width, std::abs(format.height),
                format.PixelFormatName().c_str(), format.FramesPerSecond(),
                format.InterlaceText().c_str());
  return text;
}

}  // namespace qpcap
