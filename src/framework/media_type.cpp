#include "framework/media_type.h"

#include <dshow.h>

#include <cstdlib>
#include <cstring>

namespace qp::framework {

void ResetType(AM_MEDIA_TYPE& type) {
  std::memset(&type, 0, sizeof type);
  type.bFixedSizeSamples = TRUE;
  type.lSampleSize = 1;
}

void FreeFormat(AM_MEDIA_TYPE& type) {
  if (type.cbFormat != 0) {
    CoTaskMemFree(type.pbFormat);
    type.cbFormat = 0;
    type.pbFormat = nullptr;
  }
  if (type.pUnk != nullptr) {
    type.pUnk->Release();
    type.pUnk = nullptr;
  }
}

HRESULT CopyType(AM_MEDIA_TYPE& dest, const AM_MEDIA_TYPE& source) {
  dest = source;
  if (dest.pUnk != nullptr) dest.pUnk->AddRef();
  if (source.cbFormat == 0) return S_OK;
  // A caller's record that claims a block it does not have is refused, never read.
  if (source.pbFormat == nullptr) {
    dest.cbFormat = 0;
    dest.pbFormat = nullptr;
    return VFW_E_INVALIDMEDIATYPE;
  }
  dest.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source.cbFormat));
  if (dest.pbFormat == nullptr) {
    dest.cbFormat = 0;
    return E_OUTOFMEMORY;
  }
  std::memcpy(dest.pbFormat, source.pbFormat, source.cbFormat);
  return S_OK;
}

void DeleteType(AM_MEDIA_TYPE* type) {
  if (type == nullptr) return;
  FreeFormat(*type);
  CoTaskMemFree(type);
}

namespace {

bool FormatsEqual(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
  if (a.cbFormat != b.cbFormat) return false;
  if (a.cbFormat == 0) return true;
  // A claimed block that is missing is never read and equals nothing but its own record.
  if (a.pbFormat == nullptr || b.pbFormat == nullptr) return &a == &b;
  return a.pbFormat == b.pbFormat || std::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0;
}

}  // namespace

bool TypesEqual(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
  return IsEqualGUID(a.majortype, b.majortype) && IsEqualGUID(a.subtype, b.subtype) &&
         IsEqualGUID(a.formattype, b.formattype) && FormatsEqual(a, b);
}

bool MatchesPartially(const AM_MEDIA_TYPE& type, const AM_MEDIA_TYPE& partial) {
  if (!IsEqualGUID(partial.majortype, GUID_NULL) && !IsEqualGUID(partial.majortype, type.majortype))
    return false;
  if (!IsEqualGUID(partial.subtype, GUID_NULL) && !IsEqualGUID(partial.subtype, type.subtype))
    return false;
  if (IsEqualGUID(partial.formattype, GUID_NULL)) return true;
  return IsEqualGUID(partial.formattype, type.formattype) && FormatsEqual(type, partial);
}

HRESULT MediaType::Assign(const AM_MEDIA_TYPE& source) {
  if (&source == this) return S_OK;
  FreeFormat(*this);
  return CopyType(*this, source);
}

void MediaType::TransferTo(AM_MEDIA_TYPE& dest) {
  dest = *this;
  ResetType(*this);
}

bool MediaType::IsPartial() const {
  return IsEqualGUID(majortype, GUID_NULL) || IsEqualGUID(formattype, GUID_NULL);
}

void MediaType::SetSampleSize(ULONG size) {
  if (size == 0) {
    bFixedSizeSamples = FALSE;
    return;
  }
  bFixedSizeSamples = TRUE;
  lSampleSize = size;
}

bool MediaType::SetFormat(const void* bytes, ULONG length) {
  if (bytes == nullptr && length != 0) return false;
  BYTE* block = AllocFormat(length);
  if (block == nullptr) return false;
  if (length != 0) std::memcpy(block, bytes, length);
  return true;
}

BYTE* MediaType::AllocFormat(ULONG length) {
  if (length == cbFormat) return pbFormat;
  BYTE* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
  if (block == nullptr) return cbFormat >= length ? pbFormat : nullptr;
  if (cbFormat != 0) CoTaskMemFree(pbFormat);
  pbFormat = block;
  cbFormat = length;
  return block;
}

uint32_t BitmapImageSize(const BITMAPINFOHEADER& header) {
  const uint32_t stride =
      (static_cast<uint32_t>(header.biBitCount) * static_cast<uint32_t>(header.biWidth) + 31u) /
          8u &
      ~3u;
  const uint32_t height = header.biHeight < 0 ? 0u - static_cast<uint32_t>(header.biHeight)
                                              : static_cast<uint32_t>(header.biHeight);
  return stride * height;
}

GUID BitmapSubtype(const BITMAPINFOHEADER& header) {
  if (header.biCompression != BI_RGB && header.biCompression != BI_BITFIELDS) {
    // FOURCC subtypes: the code, then the fixed tail 0000-0010-8000-00AA00389B71.
    return GUID{static_cast<unsigned long>(header.biCompression),
                0x0000,
                0x0010,
                {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
  }
  switch (header.biBitCount) {
    case 1: return MEDIASUBTYPE_RGB1;
    case 4: return MEDIASUBTYPE_RGB4;
    case 8: return MEDIASUBTYPE_RGB8;
    case 24: return MEDIASUBTYPE_RGB24;
    case 32: return MEDIASUBTYPE_RGB32;
    case 16: break;
    default: return GUID_NULL;
  }
  if (header.biCompression == BI_RGB) return MEDIASUBTYPE_RGB555;
  DWORD masks[3];
  std::memcpy(masks, reinterpret_cast<const BYTE*>(&header) + sizeof header, sizeof masks);
  if (masks[0] == 0x7C00 && masks[1] == 0x03E0 && masks[2] == 0x001F) return MEDIASUBTYPE_RGB555;
  if (masks[0] == 0xF800 && masks[1] == 0x07E0 && masks[2] == 0x001F) return MEDIASUBTYPE_RGB565;
  return GUID_NULL;
}

}  // namespace qp::framework
