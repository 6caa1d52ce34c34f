#include "stream/video_media_type.h"

#include <amvideo.h>
#include <dvdmedia.h>
#include <dshow.h>

#include <cstring>

namespace qp::stream {

static_assert(sizeof(VIDEOINFO) == 1128, "FORMAT_VideoInfo blocks are 1128 bytes");
static_assert(sizeof(VIDEOINFOHEADER) == 88, "VIDEOINFOHEADER is 88 bytes");
static_assert(sizeof(VIDEOINFOHEADER2) == 112, "VIDEOINFOHEADER2 is 112 bytes");

BITMAPINFOHEADER PresetBitmapHeader(const config::Preset& preset) {
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof header;
  header.biWidth = preset.w;
  header.biHeight = preset.h;
  header.biPlanes = 1;
  header.biBitCount = static_cast<WORD>(preset.bit_count);
  header.biCompression = preset.compression;
  header.biSizeImage = framework::BitmapImageSize(header);
  return header;
}

DWORD InterlaceFlags(int32_t interlaced) {
  if (interlaced == 1) return AMINTERLACE_IsInterlaced | AMINTERLACE_Field1First;
  if (interlaced == 2) return AMINTERLACE_IsInterlaced;
  return 0;
}

bool BuildOfferedType(const config::Preset& preset, bool video_info2, framework::MediaType& type) {
  FreeFormat(type);
  ResetType(type);
  const BITMAPINFOHEADER header = PresetBitmapHeader(preset);
  type.SetMajorType(MEDIATYPE_Video);
  type.SetSubtype(framework::BitmapSubtype(header));
  type.SetTemporalCompression(false);
  type.bFixedSizeSamples = TRUE;  // also for an absurd preset whose image size is 0
  type.lSampleSize = header.biSizeImage;

  if (video_info2) {
    VIDEOINFOHEADER2 format = {};
    format.AvgTimePerFrame = preset.frame_time;
    format.dwInterlaceFlags = InterlaceFlags(preset.interlaced);
    // The frame size as the picture aspect ratio: square pixels.
    format.dwPictAspectRatioX = static_cast<DWORD>(preset.w);
    format.dwPictAspectRatioY = static_cast<DWORD>(preset.h);
    format.bmiHeader = header;
    type.SetFormatType(FORMAT_VideoInfo2);
    return type.SetFormat(&format, sizeof format);
  }
  // The whole VIDEOINFO, colour-table area included, all zero after the header.
  VIDEOINFO format;
  std::memset(&format, 0, sizeof format);
  format.AvgTimePerFrame = preset.frame_time;
  format.bmiHeader = header;
  type.SetFormatType(FORMAT_VideoInfo);
  return type.SetFormat(&format, sizeof format);
}

const BITMAPINFOHEADER* FormatBitmapHeader(const AM_MEDIA_TYPE& type, bool video_info2) {
  if (type.pbFormat == nullptr) return nullptr;
  if (video_info2) {
    if (type.cbFormat < sizeof(VIDEOINFOHEADER2)) return nullptr;
    return &reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat)->bmiHeader;
  }
  if (type.cbFormat < sizeof(VIDEOINFOHEADER)) return nullptr;
  return &reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
}

}  // namespace qp::stream
