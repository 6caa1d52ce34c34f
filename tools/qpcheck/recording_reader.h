// Decodes a recording with FFmpeg's libraries and hands out each frame as a view the checker
// reads in place; only layouts a view cannot describe are converted first.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "check/frame_view.h"

namespace qpcheck {

struct RecordingInfo {
  std::string container;  // FFmpeg's name for it: "avi", "matroska,webm", ...
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

struct DecodedFrame {
  qp::check::FrameView view;  // valid until the next call to Next
  double time_ms = 0.0;       // from the recording's first frame; NaN when it has none
  bool converted = false;     // went through swscale
};

class RecordingReader {
 public:
  RecordingReader();
  ~RecordingReader();
  RecordingReader(const RecordingReader&) = delete;
  RecordingReader& operator=(const RecordingReader&) = delete;

  // Opens the file and its best video stream. False with a message on failure.
  bool Open(const std::string& path, std::string& error);
  const RecordingInfo& info() const { return info_; }

  // The next decoded frame. False at the end, or with `error` set when decoding cannot go on.
  bool Next(DecodedFrame& frame, std::string& error);
  // Packets the decoder refused (damaged data), skipped.
  int64_t decode_errors() const { return decode_errors_; }

 private:
  struct State;
  bool Receive(DecodedFrame& frame, std::string& error, bool& got);
  bool MapFrame(DecodedFrame& frame, std::string& error);

  std::unique_ptr<State> state_;
  RecordingInfo info_;
  int64_t decode_errors_ = 0;
};

}  // namespace qpcheck
