#include "avi_reader.h"

#include <cmath>
#include <cstdlib>

#include "tool_status.h"

namespace qpcap {
namespace {

// Larger frames are no recording of this source; refusing them keeps the sizes in range.
constexpr int32_t kMaxSide = 16384;

}  // namespace

AviReader::AviReader() { AVIFileInit(); }

AviReader::~AviReader() {
  Close();
  AVIFileExit();
}

void AviReader::Close() {
  if (stream_) AVIStreamRelease(stream_);
  if (file_) AVIFileRelease(file_);
  stream_ = nullptr;
  file_ = nullptr;
}

bool AviReader::Open(const std::string& path, std::string& error) {
  Close();
  HRESULT hr = AVIFileOpenW(&file_, Wide(path).c_str(), OF_READ | OF_SHARE_DENY_WRITE, nullptr);
  if (FAILED(hr)) {
    file_ = nullptr;
    error = "cannot open " + path + " as an AVI file: " + HresultText(hr);
    return false;
  }
  if (FAILED(hr = AVIFileGetStream(file_, &stream_, streamtypeVIDEO, 0))) {
    stream_ = nullptr;
    error = path + " holds no video stream";
    return false;
  }
  AVISTREAMINFOW info{};
  LONG format_size = 0;
  if (FAILED(AVIStreamInfoW(stream_, &info, sizeof info)) ||
      FAILED(AVIStreamReadFormat(stream_, AVIStreamStart(stream_), nullptr, &format_size)) ||
      format_size < LONG(sizeof(BITMAPINFOHEADER))) {
    error = path + ": the video stream has no usable format";
    return false;
  }
  std::vector<uint8_t> format(static_cast<std::size_t>(format_size));
  if (FAILED(AVIStreamReadFormat(stream_, AVIStreamStart(stream_), format.data(), &format_size))) {
    error = path + ": the video format cannot be read";
    return false;
  }
  const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(format.data());
  if (header->biWidth <= 0 || header->biHeight == 0 || header->biWidth > kMaxSide ||
      std::abs(header->biHeight) > kMaxSide) {
    error = path + ": frame size out of range";
    return false;
  }
  format_ = VideoFormat{};
  format_.header = *header;
  format_.width = header->biWidth;
  format_.height = header->biHeight;
  format_.compression = header->biCompression;
  format_.bit_count = header->biBitCount;
  const std::size_t bytes = qp::check::DibFrameBytes(format_.width, format_.height,
                                                     format_.compression, format_.bit_count);
  if (bytes == 0) {
    error = path +
            ": frames are compressed or in a format this check does not read (it reads "
            "RGB 24/32, YUY2, YVYU, UYVY, HDYC); qpcheck reads any format FFmpeg decodes";
    return false;
  }
  buffer_.assign(bytes, 0);
  start_ = AVIStreamStart(stream_);
  length_ = AVIStreamLength(stream_);
  if (length_ < 0) length_ = 0;
  rate_ = info.dwScale != 0 ? double(info.dwRate) / double(info.dwScale) : 0.0;
  if (rate_ > 0.0) format_.frame_time = REFERENCE_TIME(1e7 / rate_ + 0.5);
  return true;
}

bool AviReader::Read(int64_t index, qp::check::FrameView& view, double& time_ms,
                     std::string& error) {
  if (stream_ == nullptr || index < 0 || index >= length_) {
    error = "no such frame";
    return false;
  }
  LONG bytes = 0, samples = 0;
  const LONG sample = start_ + static_cast<LONG>(index);
  const HRESULT hr =
      AVIStreamRead(stream_, sample, 1, buffer_.data(), LONG(buffer_.size()), &bytes, &samples);
  if (FAILED(hr) || samples != 1) {
    error = "frame " + std::to_string(index) + " cannot be read: " + HresultText(hr);
    return false;
  }
  // A short sample keeps the rest of the buffer zero instead of last frame's bytes.
  if (static_cast<std::size_t>(bytes) < buffer_.size())
    std::fill(buffer_.begin() + bytes, buffer_.end(), uint8_t{0});
  time_ms = rate_ > 0.0 ? 1000.0 * static_cast<double>(index) / rate_ : std::nan("");
  view = qp::check::ViewOfDib(buffer_.data(), buffer_.size(), format_.width, format_.height,
                              format_.compression, format_.bit_count);
  return true;
}

}  // namespace qpcap
