// One output format of the stream, as read from a PRESET_nn section of the INI file.
#pragma once

#include <cstdint>

#include "synth/pixel_format_code.h"

namespace qp::config {

// The format codes live with the pixel formats; presets name them here too.
using synth::FourCC;
using synth::kFormatHDYC;
using synth::kFormatRgb;
using synth::kFormatUYVY;
using synth::kFormatYUY2;
using synth::kFormatYVYU;

// Paths and texts: at most 259 characters and the terminator.
constexpr int kPresetTextSize = 260;

struct Preset {
  int32_t enable;        // 1: loaded from an enabled section; 0: the fallback from the defaults
  int32_t w;             // frame width in pixels, even, at least 80
  int32_t h;             // frame height in pixels, even, at least 60
  uint32_t compression;  // kFormatRgb or a 4:2:2 format code
  int32_t bit_count;     // 32, 24 or 16
  int64_t frame_time;    // 100 ns units
  int32_t interlaced;    // 0 progressive, 1 field 1 first, 2 field 2 first
  int32_t scroll_x;      // pixels per frame, even
  int32_t scroll_y;      // lines per frame, even
  char bmp[kPresetTextSize];      // background picture, relative to the module directory
  char font[kPresetTextSize];     // glyph sheet, relative to the module directory
  char comment[kPresetTextSize];  // shown in the stream's header line
};

// Maps an `fcc` INI value ("RG32", "yuy2", ...; case-insensitive, first four characters) to a
// format code and bit count. False for an unknown value, which leaves both unchanged.
bool MapFormatName(const char* fcc, uint32_t& compression, int32_t& bit_count);

}  // namespace qp::config
