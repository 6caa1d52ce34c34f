// The media types that describe a preset: the bitmap header, the interlace flags and the whole
// offered type with a VIDEOINFOHEADER (1128-byte VIDEOINFO block) or VIDEOINFOHEADER2 block,
// and the reading of a bitmap header back out of a type's format block.
#pragma once

#include <windows.h>

#include <strmif.h>

#include "config/preset.h"
#include "framework/media_type.h"

namespace qp::stream {

// biSize 40, the preset's size and format, positive height, biSizeImage from the platform's
// row rounding; everything else 0.
BITMAPINFOHEADER PresetBitmapHeader(const config::Preset& preset);

// AMINTERLACE_IsInterlaced | AMINTERLACE_Field1First for mode 1, IsInterlaced for 2, else 0.
DWORD InterlaceFlags(int32_t interlaced);

// Replaces `type` with the video type of `preset`. False (E_OUTOFMEMORY for the caller) when
// the format block cannot be had.
bool BuildOfferedType(const config::Preset& preset, bool video_info2, framework::MediaType& type);

// The bmiHeader of `type`'s format block read as a VIDEOINFOHEADER2 or a VIDEOINFOHEADER; null
// when there is no block or it is shorter than that header. The format type is not looked at.
const BITMAPINFOHEADER* FormatBitmapHeader(const AM_MEDIA_TYPE& type, bool video_info2);

}  // namespace qp::stream
