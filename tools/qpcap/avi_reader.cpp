#include "avi_reader.h"

#include <cmath>
#include <cstdlib>

#include "tool_status.h"

namespace qpcap {
namespace {

constexpr DWORD kFourccYUY2 = MAKEFOURCC('Y', 'U', 'Y', '2');
constexpr DWORD kFourccYVYU = MAKEFOURCC('Y', 'V', 'Y', 'U');
constexpr DWORD kFourccUYVY = MAKEFOURCC('U', 'Y', 'V', 'Y');
constexpr DWORD kFourccHDYC = MAKEFOURCC('H', 'D', 'Y', 'C');
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
  LONG formatSize = 0;
  if (FAILED(AVIStreamInfoW(stream_, &info, sizeof info)) ||
      FAILED(AVIStreamReadFormat(stream_, AVIStreamStart(stream_), nullptr, &formatSize)) ||
      formatSize < LONG(sizeof(BITMAPINFOHEADER))) {
    error = path + ": the video stream has no usable format";
    return false;
  }
  std::vector<uint8_t> format(static_cast<std::size_t>(formatSize));
  if (FAILED(AVIStreamReadFormat(stream_, AVIStreamStart(stream_), format.data(), &formatSize))) {
    error = path + ": the video format cannot be read";
    return false;
  }
  const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(format.data());
  width_ = header->biWidth;
  height_ = std::abs(header->biHeight);
  if (width_ <= 0 || height_ <= 0 || width_ > kMaxSide || height_ > kMaxSide) {
    error = path + ": frame size out of range";
    return false;
  }
  bottomUp_ = header->biHeight > 0;
  const DWORD compression = header->biCompression;
  compression_ = compression;
  if (compression == BI_RGB && (header->biBitCount == 24 || header->biBitCount == 32)) {
    bytesPerPixel_ = header->biBitCount / 8;
    formatName_ = bytesPerPixel_ == 3 ? "RGB24" : "RGB32";
    stride_ = (static_cast<std::size_t>(width_) * bytesPerPixel_ + 3) & ~std::size_t{3};
  } else if (compression == kFourccYUY2 || compression == kFourccYVYU ||
             compression == kFourccUYVY || compression == kFourccHDYC) {
    bytesPerPixel_ = 2;
    formatName_ = compression == kFourccYUY2   ? "YUY2"
                  : compression == kFourccYVYU ? "YVYU"
                  : compression == kFourccUYVY ? "UYVY"
                                               : "HDYC";
    // 4:2:2 rows hold whole pixel pairs and run top-down whatever the height's sign says.
    stride_ = ((static_cast<std::size_t>(width_) + 1) / 2) * 4;
    bottomUp_ = false;
  } else {
    error = path + ": frames are compressed or in a format this check does not read (it reads "
                   "RGB 24/32, YUY2, YVYU, UYVY, HDYC); qpcheck reads any format FFmpeg decodes";
    return false;
  }
  frameBytes_ = stride_ * static_cast<std::size_t>(height_);
  buffer_.assign(frameBytes_, 0);
  start_ = AVIStreamStart(stream_);
  length_ = AVIStreamLength(stream_);
  if (length_ < 0) length_ = 0;
  rate_ = info.dwScale != 0 ? double(info.dwRate) / double(info.dwScale) : 0.0;
  return true;
}

bool AviReader::Read(int64_t index, qp::check::FrameView& view, double& timeMs,
                     std::string& error) {
  if (stream_ == nullptr || index < 0 || index >= length_) {
    error = "no such frame";
    return false;
  }
  LONG bytes = 0, samples = 0;
  const LONG sample = start_ + static_cast<LONG>(index);
  const HRESULT hr = AVIStreamRead(stream_, sample, 1, buffer_.data(), LONG(buffer_.size()),
                                   &bytes, &samples);
  if (FAILED(hr) || samples != 1) {
    error = "frame " + std::to_string(index) + " cannot be read: " + HresultText(hr);
    return false;
  }
  // A short sample keeps the rest of the buffer zero instead of last frame's bytes.
  if (static_cast<std::size_t>(bytes) < frameBytes_)
    std::fill(buffer_.begin() + bytes, buffer_.end(), uint8_t{0});
  timeMs = rate_ > 0.0 ? 1000.0 * static_cast<double>(index) / rate_ : std::nan("");
  view = qp::check::ViewOfDib(buffer_.data(), buffer_.size(), width_,
                              bottomUp_ ? height_ : -height_, compression_, bytesPerPixel_ * 8);
  return true;
}

}  // namespace qpcap
