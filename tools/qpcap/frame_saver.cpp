#include "frame_saver.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "tool_status.h"

namespace qpcap {
namespace {

constexpr DWORD kYuy2 = MAKEFOURCC('Y', 'U', 'Y', '2');
constexpr DWORD kYvyu = MAKEFOURCC('Y', 'V', 'Y', 'U');
constexpr DWORD kUyvy = MAKEFOURCC('U', 'Y', 'V', 'Y');
constexpr DWORD kHdyc = MAKEFOURCC('H', 'D', 'Y', 'C');

// Keeps a copy of the wanted frame; streaming thread until it returns true.
class FrameCatchSink : public FrameSink {
 public:
  explicit FrameCatchSink(int wanted) : wanted_(wanted) {}
  bool OnFrame(const Arrival& arrival) override {
    if (seen_++ < wanted_) return false;
    BYTE* data = nullptr;
    const long length = arrival.sample->GetActualDataLength();
    if (SUCCEEDED(arrival.sample->GetPointer(&data)) && length > 0)
      frame_.assign(data, data + length);
    return true;
  }
  const std::vector<BYTE>& frame() const { return frame_; }
  int seen() const { return seen_; }

 private:
  const int wanted_;
  int seen_ = 0;
  std::vector<BYTE> frame_;
};

BYTE Clamp(double value) { return BYTE(std::clamp(value + 0.5, 0.0, 255.0)); }

// Packed 4:2:2 (top-down rows) to 24-bit BGR bottom-up rows, limited range, BT.601 colours or
// BT.709 for HDYC. Returns false for a layout it does not know.
bool ConvertPacked422(const VideoFormat& format, const std::vector<BYTE>& source,
                      std::vector<BYTE>& bgr, size_t bgr_pitch) {
  int y0, u, y1, v;  // Byte positions within a 4-byte pair of pixels.
  switch (format.compression) {
    case kYuy2: y0 = 0, u = 1, y1 = 2, v = 3; break;
    case kYvyu: y0 = 0, v = 1, y1 = 2, u = 3; break;
    case kUyvy:
    case kHdyc: u = 0, y0 = 1, v = 2, y1 = 3; break;
    default: return false;
  }
  const bool bt709 = format.compression == kHdyc;
  const double rv = bt709 ? 1.793 : 1.596, gu = bt709 ? 0.213 : 0.392, gv = bt709 ? 0.533 : 0.813,
               bu = bt709 ? 2.112 : 2.017;
  const int width = format.width, height = std::abs(format.height);
  const size_t pitch = size_t(width) * 2;
  if (source.size() < pitch * height) return false;
  for (int row = 0; row < height; ++row) {
    const BYTE* in = source.data() + pitch * row;
    BYTE* out = bgr.data() + bgr_pitch * (height - 1 - row);
    for (int x = 0; x + 1 < width; x += 2, in += 4) {
      const double cu = in[u] - 128.0, cv = in[v] - 128.0;
      for (int half = 0; half < 2; ++half) {
        const double luma = 1.164 * (in[half ? y1 : y0] - 16.0);
        *out++ = Clamp(luma + bu * cu);
        *out++ = Clamp(luma - gu * cu - gv * cv);
        *out++ = Clamp(luma + rv * cv);
      }
    }
  }
  return true;
}

bool WriteBmp(std::FILE* file, BITMAPINFOHEADER header, const BYTE* pixels, size_t size) {
  header.biSizeImage = DWORD(size);
  BITMAPFILEHEADER file_header{};
  file_header.bfType = 0x4D42;  // "BM"
  file_header.bfOffBits = sizeof file_header + sizeof header;
  file_header.bfSize = DWORD(file_header.bfOffBits + size);
  return std::fwrite(&file_header, sizeof file_header, 1, file) == 1 &&
         std::fwrite(&header, sizeof header, 1, file) == 1 &&
         std::fwrite(pixels, 1, size, file) == size && std::fflush(file) == 0;
}

}  // namespace

int RunSaveFrame(const CommandOptions& options) {
  FrameCatchSink sink(options.frame);
  Capture capture;
  int status = SetUpCapture(options, &sink, capture);
  if (status != kExitOk) return status;
  const VideoFormat& format = capture.session.connected_format();
  if (!format.IsRgb() && format.bit_count != 16)
    return Fail(kExitFailure, "cannot save %s frames as BMP", format.PixelFormatName().c_str());
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(options.output.c_str(), "wb"),
                                                       std::fclose);
  if (!file)
    return Fail(kExitOutput, "cannot write %s: %s", options.output.c_str(), std::strerror(errno));
  PrintCaptureHeader("grabbing from", capture);

  const double rate = format.FramesPerSecond() > 0 ? format.FramesPerSecond() : 1.0;
  CaptureSession::RunEnd end;
  status = capture.session.Run(options.frame / rate + 10.0, {}, end);
  if (status != kExitOk) return status;
  if (end != CaptureSession::RunEnd::kSinkDone || sink.frame().empty())
    return Fail(kExitFailure, "frame %d never arrived (%d frames did)", options.frame, sink.seen());

  BITMAPINFOHEADER header = format.header;
  const std::vector<BYTE>* pixels = &sink.frame();
  size_t size = std::min(sink.frame().size(), size_t(format.ImageSize()));
  std::vector<BYTE> converted;
  if (!format.IsRgb()) {
    const size_t pitch = (size_t(format.width) * 3 + 3) & ~size_t(3);
    converted.assign(pitch * std::abs(format.height), 0);
    if (!ConvertPacked422(format, sink.frame(), converted, pitch))
      return Fail(kExitFailure, "cannot convert %s frames to RGB",
                  format.PixelFormatName().c_str());
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biHeight = std::abs(format.height);
    pixels = &converted;
    size = converted.size();
  }
  if (!WriteBmp(file.get(), header, pixels->data(), size))
    return Fail(kExitOutput, "writing %s failed", options.output.c_str());
  std::printf("saved frame %d to %s\n", options.frame, options.output.c_str());
  return kExitOk;
}

}  // namespace qpcap
