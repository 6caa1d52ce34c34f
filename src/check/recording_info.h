// What a checker tells of the recording it read, besides its frames: the container, the codec
// and what the frames declared of their colours.
#pragma once

#include <cstdint>
#include <string>

namespace qp::check {

struct RecordingInfo {
  std::string container;  // "avi", "live", or FFmpeg's name for it: "matroska,webm", ...
  std::string codec;
  std::string pixel_format;
  int32_t width = 0;
  int32_t height = 0;
  double nominal_fps = 0.0;    // declared by the container; 0 when it declares none
  int64_t frame_estimate = 0;  // from the container, for progress; 0 when unknown
  // What the first decoded frame says of its colours, empty when it says nothing.
  std::string declared_matrix;  // "BT.601", "BT.709", or FFmpeg's name of another
  std::string declared_range;   // "limited" or "full"
  bool monochrome = false;      // grey only: no colours to judge
};

}  // namespace qp::check
