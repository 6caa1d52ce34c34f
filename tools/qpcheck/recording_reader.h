// Decodes a recording with FFmpeg's libraries and hands out each frame as a view the checker
// reads in place; only layouts a view cannot describe are converted first.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "check/frame_view.h"
#include "check/recording_info.h"

namespace qpcheck {

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
  const qp::check::RecordingInfo& info() const { return info_; }

  // The next decoded frame. False at the end, or with `error` set when decoding cannot go on.
  bool Next(DecodedFrame& frame, std::string& error);
  // Packets the decoder refused (damaged data), skipped.
  int64_t decode_errors() const { return decode_errors_; }

 private:
  struct State;
  bool Receive(DecodedFrame& frame, std::string& error, bool& got);
  bool MapFrame(DecodedFrame& frame, std::string& error);

  std::unique_ptr<State> state_;
  qp::check::RecordingInfo info_;
  int64_t decode_errors_ = 0;
};

}  // namespace qpcheck
