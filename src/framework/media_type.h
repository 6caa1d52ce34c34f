// The framework's owning media-type record: the platform's AM_MEDIA_TYPE whose format block
// (COM task memory) and pUnk reference belong to the record, and the bitmap helpers that turn
// a BITMAPINFOHEADER into an image size or a subtype.
#pragma once

#include <windows.h>

#include <strmif.h>

#include <cstdint>

namespace qp::framework {

// Free helpers on any AM_MEDIA_TYPE, also records that are not a MediaType (those handed to or
// received from other objects).

// Every field 0, then bFixedSizeSamples = 1 and lSampleSize = 1. Frees nothing.
void ResetType(AM_MEDIA_TYPE& type);
// Frees the format block (when cbFormat is not 0) and releases pUnk; the record stays usable.
void FreeFormat(AM_MEDIA_TYPE& type);
// Copies every field and the format bytes into `dest`, whose old format is not freed. The copy
// holds its own pUnk reference even when the block cannot be had: then E_OUTOFMEMORY with
// cbFormat 0 and pbFormat null. A source with cbFormat but no pbFormat gives
// VFW_E_INVALIDMEDIATYPE, with the destination as after a failed allocation.
HRESULT CopyType(AM_MEDIA_TYPE& dest, const AM_MEDIA_TYPE& source);
// A record that itself lives in task memory (IEnumMediaTypes::Next output): FreeFormat, then
// the record. Null is ignored.
void DeleteType(AM_MEDIA_TYPE* type);
// Major type, subtype, format type and format bytes; sample size, temporal compression and
// pUnk are not compared. A record with cbFormat but no pbFormat equals only itself.
bool TypesEqual(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b);
// GUID_NULL fields of `partial` match anything; a GUID_NULL format type skips the format.
bool MatchesPartially(const AM_MEDIA_TYPE& type, const AM_MEDIA_TYPE& partial);

class MediaType : public AM_MEDIA_TYPE {
 public:
  MediaType() { ResetType(*this); }
  ~MediaType() { FreeFormat(*this); }
  // A copy can fail for lack of memory: use Assign, which says so.
  MediaType(const MediaType&) = delete;
  MediaType& operator=(const MediaType&) = delete;

  // Frees this record's format, then copies `source`. Nothing for the record itself;
  // E_OUTOFMEMORY (with no format) when the block cannot be had, VFW_E_INVALIDMEDIATYPE when
  // `source` claims a block it does not have.
  HRESULT Assign(const AM_MEDIA_TYPE& source);
  // Moves every field into `dest` (whose old contents are overwritten, not freed) and leaves
  // this record fresh, so that the block and the pUnk reference change owner without a copy.
  void TransferTo(AM_MEDIA_TYPE& dest);

  bool operator==(const MediaType& other) const { return TypesEqual(*this, other); }
  bool IsPartial() const;
  bool IsValidType() const { return !IsEqualGUID(majortype, GUID_NULL); }

  void SetMajorType(const GUID& type) { majortype = type; }
  void SetSubtype(const GUID& type) { subtype = type; }
  void SetFormatType(const GUID& type) { formattype = type; }
  void SetTemporalCompression(bool compressed) { bTemporalCompression = compressed; }
  // 0 makes the samples variable-sized and keeps lSampleSize.
  void SetSampleSize(ULONG size);
  void SetVariableSize() { bFixedSizeSamples = FALSE; }
  // False, with the record unchanged, when the block cannot be had or `bytes` is null with a
  // length.
  bool SetFormat(const void* bytes, ULONG length);
  // A block of `length` bytes, its contents undefined. The current block when the length is
  // already cbFormat; on allocation failure the current block if it is at least `length`
  // bytes (cbFormat keeps the larger size), else null with the record unchanged.
  BYTE* AllocFormat(ULONG length);
};

// Bytes of the image that `header` describes: rows of biBitCount × biWidth bits rounded up to
// whole 32-bit words, times |biHeight|. Unsigned 32-bit arithmetic, as the platform computes it.
uint32_t BitmapImageSize(const BITMAPINFOHEADER& header);
// The video subtype of `header`. For BI_BITFIELDS at 16 bits the three masks are read from the
// 12 bytes after the header, so the caller passes a header that has them (a BITMAPINFO).
GUID BitmapSubtype(const BITMAPINFOHEADER& header);

}  // namespace qp::framework
