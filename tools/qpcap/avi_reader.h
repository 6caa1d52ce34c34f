// Reads the frames of an uncompressed AVI file through the platform's AVIFile library, as
// views the recording checker reads in place.
#pragma once

#include <windows.h>
#include <vfw.h>

#include <cstdint>
#include <string>
#include <vector>

#include "check/frame_view.h"
#include "video_format.h"

namespace qpcap {

class AviReader {
 public:
  AviReader();
  ~AviReader();
  AviReader(const AviReader&) = delete;
  AviReader& operator=(const AviReader&) = delete;

  // Opens the file's first video stream. False with a message when the file cannot be read
  // or its frames are compressed (the FFmpeg-based qpcheck reads those).
  bool Open(const std::string& path, std::string& error);

  // The frames' size and layout, as the file's bitmap header gives them.
  const VideoFormat& format() const { return format_; }
  int64_t frames() const { return length_; }
  double FramesPerSecond() const { return rate_; }

  // Frame `index` (0 to frames() − 1) and its time in ms from the first frame; the view is
  // valid until the next call. False with a message when the frame cannot be read.
  bool Read(int64_t index, qp::check::FrameView& view, double& time_ms, std::string& error);

 private:
  void Close();

  PAVIFILE file_ = nullptr;
  PAVISTREAM stream_ = nullptr;
  LONG start_ = 0;
  int64_t length_ = 0;
  double rate_ = 0.0;
  VideoFormat format_;
  std::vector<uint8_t> buffer_;
};

}  // namespace qpcap
