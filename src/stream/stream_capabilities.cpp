#include "stream/stream_capabilities.h"

#include <amvideo.h>
#include <dvdmedia.h>
#include <dshow.h>
#include <objbase.h>

#include <climits>
#include <cstring>

#include "framework/media_type.h"
#include "stream/video_media_type.h"

namespace qp::stream {
namespace {

using framework::ScopedLock;

static_assert(sizeof(VIDEO_STREAM_CONFIG_CAPS) == 128, "capability records are 128 bytes");

const HRESULT kNoMatch = HRESULT_FROM_WIN32(ERROR_NO_MATCH);  // 0x80070491

// How far AvgTimePerFrame may lie from a preset's frame time, 100 ns.
constexpr uint64_t kFrameTimeWindow = 50;

// Distances in unsigned arithmetic, so no frame time at the ends of the range overflows.
bool WithinFrameWindow(int64_t frame_time, int64_t requested) {
  const uint64_t a = static_cast<uint64_t>(frame_time);
  const uint64_t b = static_cast<uint64_t>(requested);
  return (requested >= frame_time ? b - a : a - b) <= kFrameTimeWindow;
}

bool Matches(const config::Preset& preset, const BITMAPINFOHEADER& header,
             REFERENCE_TIME frame_time) {
  return header.biWidth == preset.w && header.biHeight == preset.h &&
         header.biCompression == preset.compression &&
         static_cast<int32_t>(header.biBitCount) == preset.bit_count &&
         WithinFrameWindow(preset.frame_time, frame_time);
}

// What the downstream agreed to: the buffer layout and the frame rate of its type.
bool SameFrame(const config::Preset& a, const config::Preset& b) {
  return a.w == b.w && a.h == b.h && a.compression == b.compression && a.bit_count == b.bit_count &&
         a.frame_time == b.frame_time;
}

// AvgTimePerFrame sits at the same offset in both header kinds. Only for a type whose
// FormatBitmapHeader was found: then the block holds the whole header.
REFERENCE_TIME FormatFrameTime(const AM_MEDIA_TYPE& type, bool video_info2) {
  return video_info2 ? reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat)->AvgTimePerFrame
                     : reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame;
}

void FillCaps(const BITMAPINFOHEADER& header, REFERENCE_TIME frame_time, bool video_info2,
              VIDEO_STREAM_CONFIG_CAPS& caps) {
  std::memset(&caps, 0, sizeof caps);
  caps.guid = video_info2 ? FORMAT_VideoInfo2 : FORMAT_VideoInfo;
  const SIZE size = {header.biWidth, header.biHeight};
  caps.InputSize = size;
  // One fixed size and frame time: no cropping, scaling or rate range.
  caps.MinCroppingSize = size;
  caps.MaxCroppingSize = size;
  caps.CropGranularityX = 1;
  caps.CropGranularityY = 1;
  caps.CropAlignX = 1;
  caps.CropAlignY = 1;
  caps.MinOutputSize = size;
  caps.MaxOutputSize = size;
  caps.OutputGranularityX = 1;
  caps.OutputGranularityY = 1;
  caps.MinFrameInterval = frame_time;
  caps.MaxFrameInterval = frame_time;
  caps.MinBitsPerSecond = CapabilityBitRate(header.biSizeImage, frame_time);
  caps.MaxBitsPerSecond = caps.MinBitsPerSecond;
}

}  // namespace

LONG CapabilityBitRate(DWORD image_size, REFERENCE_TIME frame_time) {
  const double rate = frame_time == 0 ? 30.0 : 10000000.0 / static_cast<double>(frame_time);
  const double bits = static_cast<double>(image_size) * 8.0 * rate;
  if (!(bits > 0.0)) return 0;
  if (bits >= static_cast<double>(LONG_MAX)) return LONG_MAX;
  return static_cast<LONG>(bits);
}

StreamCapabilities::StreamCapabilities(const config::StreamConfiguration& settings, Pin& pin)
    : settings_(settings), pin_(pin) {}

int32_t StreamCapabilities::PresetCount() const {
  const int32_t count = settings_.preset_num;
  const int32_t allocated = settings_.presets.Empty() ? 0 : settings_.presets.Capacity();
  return count < allocated ? count : allocated;
}

// IAMStreamConfig

// The subtype is not compared. Presets that differ only in interlacing, scrolling, pictures or
// comment cannot be told apart: the first is chosen.
HRESULT StreamCapabilities::SetFormat(const AM_MEDIA_TYPE* type) {
  if (type == nullptr) return kNoMatch;
  if (!IsEqualGUID(type->majortype, MEDIATYPE_Video)) return kNoMatch;
  if (!IsEqualGUID(type->formattype, VideoInfo2() ? FORMAT_VideoInfo2 : FORMAT_VideoInfo))
    return kNoMatch;
  // A block shorter than its header would be read past its end.
  const BITMAPINFOHEADER* header = FormatBitmapHeader(*type, VideoInfo2());
  if (header == nullptr) return kNoMatch;
  const REFERENCE_TIME frame_time = FormatFrameTime(*type, VideoInfo2());

  const config::Preset* chosen = nullptr;
  const int32_t count = PresetCount();
  for (int32_t i = 0; i < count && chosen == nullptr; ++i)
    if (Matches(settings_.presets[i], *header, frame_time)) chosen = &settings_.presets[i];
  if (chosen == nullptr) return kNoMatch;

  ScopedLock hold(pin_.FormatLock());
  if (pin_.HasConnection() && !SameFrame(pin_.CurrentPreset(), *chosen))
    return VFW_E_ALREADY_CONNECTED;
  pin_.SelectPreset(*chosen);
  return S_OK;
}

HRESULT StreamCapabilities::GetFormat(AM_MEDIA_TYPE** type) const {
  if (type == nullptr) return E_POINTER;
  *type = nullptr;
  return NewCapabilityType(pin_.CurrentPreset(), type);
}

HRESULT StreamCapabilities::GetNumberOfCapabilities(int* count, int* size) const {
  if (count == nullptr || size == nullptr) return E_POINTER;
  *count = settings_.preset_num;
  *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
  return S_OK;
}

HRESULT StreamCapabilities::GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) const {
  if (type == nullptr || caps == nullptr) return E_POINTER;
  *type = nullptr;
  if (index < 0 || index >= PresetCount()) return E_INVALIDARG;
  AM_MEDIA_TYPE* built = nullptr;
  const HRESULT hr = NewCapabilityType(settings_.presets[index], &built);
  if (FAILED(hr)) return hr;
  // The caller's buffer need not be aligned for the record.
  VIDEO_STREAM_CONFIG_CAPS record;
  FillCaps(*FormatBitmapHeader(*built, VideoInfo2()), FormatFrameTime(*built, VideoInfo2()),
           VideoInfo2(), record);
  std::memcpy(caps, &record, sizeof record);
  *type = built;
  return S_OK;
}

// IKsPropertySet

HRESULT StreamCapabilities::SetProperty(REFGUID /*set*/, DWORD /*id*/) const { return E_NOTIMPL; }

HRESULT StreamCapabilities::GetProperty(REFGUID set, DWORD id, void* data, DWORD dataSize,
                                        DWORD* returned) const {
  if (!IsEqualGUID(set, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
  if (data == nullptr && returned == nullptr) return E_POINTER;
  if (returned != nullptr) *returned = sizeof(GUID);
  if (data == nullptr) return S_OK;  // a size query
  if (dataSize < sizeof(GUID)) return E_UNEXPECTED;
  std::memcpy(data, &PIN_CATEGORY_CAPTURE, sizeof(GUID));
  return S_OK;
}

HRESULT StreamCapabilities::QuerySupported(REFGUID set, DWORD id, DWORD* support) const {
  if (!IsEqualGUID(set, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
  if (support != nullptr) *support = KSPROPERTY_SUPPORT_GET;
  return S_OK;
}

// The VIDEOINFOHEADER form is the bare 88-byte header, not the offered type's VIDEOINFO block.
// The interlace flags of a VIDEOINFOHEADER2 are those of the preset described.
HRESULT StreamCapabilities::NewCapabilityType(const config::Preset& preset,
                                              AM_MEDIA_TYPE** type) const {
  const BITMAPINFOHEADER header = PresetBitmapHeader(preset);
  framework::MediaType built;
  built.SetMajorType(MEDIATYPE_Video);
  built.SetSubtype(framework::BitmapSubtype(header));
  built.SetTemporalCompression(false);
  built.bFixedSizeSamples = TRUE;
  built.lSampleSize = header.biSizeImage;
  bool formatted = false;
  if (VideoInfo2()) {
    VIDEOINFOHEADER2 format = {};
    format.AvgTimePerFrame = preset.frame_time;
    format.dwInterlaceFlags = InterlaceFlags(preset.interlaced);
    format.dwPictAspectRatioX = static_cast<DWORD>(preset.w);
    format.dwPictAspectRatioY = static_cast<DWORD>(preset.h);
    format.bmiHeader = header;
    built.SetFormatType(FORMAT_VideoInfo2);
    formatted = built.SetFormat(&format, sizeof format);
  } else {
    VIDEOINFOHEADER format = {};
    format.AvgTimePerFrame = preset.frame_time;
    format.bmiHeader = header;
    built.SetFormatType(FORMAT_VideoInfo);
    formatted = built.SetFormat(&format, sizeof format);
  }
  if (!formatted) return E_OUTOFMEMORY;
  auto* record = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (record == nullptr) return E_OUTOFMEMORY;
  built.TransferTo(*record);
  *type = record;
  return S_OK;
}

}  // namespace qp::stream
