// The media types the stream offers and accepts, and the sizing of the allocator's buffers.
// Control threads; every answer describes the current preset alone.
#include <dshow.h>

#include <climits>

#include "framework/media_type.h"
#include "stream/video_media_type.h"
#include "stream/video_stream_pin.h"

namespace qp::stream {

using framework::MediaType;
using framework::ScopedLock;

namespace {

// Size and pixel format of the preset; a top-down description (negative height) of the same
// size is accepted.
bool DescribesPreset(const BITMAPINFOHEADER& header, const config::Preset& preset) {
  const int64_t height = header.biHeight < 0 ? -int64_t{header.biHeight} : header.biHeight;
  return header.biCompression == preset.compression &&
         header.biBitCount == static_cast<int64_t>(preset.bit_count) &&
         header.biWidth == preset.w && height == preset.h;
}

}  // namespace

// Both positions give the same type, so the pin's list holds it twice. No FilterLock: a
// downstream filter may enumerate from inside Receive.
HRESULT VideoStreamPin::GetOfferedType(int32_t index, MediaType* type) {
  if (type == nullptr) return E_POINTER;
  if (index < 0) return E_INVALIDARG;
  if (index > 1) return VFW_S_NO_MORE_ITEMS;
  const bool video_info2 = settings_.use_video_info_header2 != 0;
  return BuildOfferedType(CurrentPreset(), video_info2, *type) ? S_OK : E_OUTOFMEMORY;
}

// Neither the format type nor the subtype is compared. No lock: some callers hold none, and a
// downstream filter may ask from inside Receive.
HRESULT VideoStreamPin::CheckType(const MediaType* type) {
  if (type == nullptr) return E_POINTER;
  if (!IsEqualGUID(type->majortype, MEDIATYPE_Video) || !type->bFixedSizeSamples)
    return E_INVALIDARG;
  const BITMAPINFOHEADER* header = FormatBitmapHeader(*type, settings_.use_video_info_header2 != 0);
  if (header == nullptr) return E_INVALIDARG;
  return DescribesPreset(*header, CurrentPreset()) ? S_OK : E_INVALIDARG;
}

// The type stays recorded even when it does not describe the current preset. The pin does not
// count as connected yet: a format change may still come before PublishPeer.
HRESULT VideoStreamPin::SetType(const MediaType* type) {
  if (type == nullptr) return E_POINTER;
  ScopedLock hold(services_.PinLock());
  ScopedLock format(preset_lock_);
  const HRESULT hr = services_.SetConnectionType(*type);
  if (FAILED(hr)) return hr;
  const BITMAPINFOHEADER* header =
      FormatBitmapHeader(services_.ConnectionType(), settings_.use_video_info_header2 != 0);
  if (header == nullptr) return E_UNEXPECTED;
  return DescribesPreset(*header, current_preset_) ? S_OK : E_UNEXPECTED;
}

// Checked again under the preset lock held while the connection becomes visible, so a format
// change either comes before (and fails the connection) or sees it and keeps the frame.
HRESULT VideoStreamPin::PublishPeer(IPin* peer) {
  ScopedLock format(preset_lock_);
  const BITMAPINFOHEADER* header =
      FormatBitmapHeader(services_.ConnectionType(), settings_.use_video_info_header2 != 0);
  if (header == nullptr || !DescribesPreset(*header, current_preset_))
    return VFW_E_TYPE_NOT_ACCEPTED;
  return StreamPinBase::PublishPeer(peer);
}

// A smaller buffer count than asked is accepted; smaller buffers are not.
HRESULT VideoStreamPin::SizeBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  if (allocator == nullptr || request == nullptr) return E_POINTER;
  ScopedLock hold(services_.PinLock());
  const BITMAPINFOHEADER* header =
      FormatBitmapHeader(services_.ConnectionType(), settings_.use_video_info_header2 != 0);
  if (header == nullptr) return E_UNEXPECTED;
  // A peer's type may leave biSizeImage 0 (allowed for RGB) or too small; the buffers must
  // still hold the image the header describes.
  const uint32_t image_size = framework::BitmapImageSize(*header);
  const uint32_t buffer_size = header->biSizeImage > image_size ? header->biSizeImage : image_size;
  if (buffer_size > static_cast<uint32_t>(LONG_MAX)) return E_INVALIDARG;
  request->cBuffers = settings_.buff_num;
  request->cbBuffer = static_cast<long>(buffer_size);
  ALLOCATOR_PROPERTIES actual = {};
  const HRESULT hr = allocator->SetProperties(request, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
}

}  // namespace qp::stream
