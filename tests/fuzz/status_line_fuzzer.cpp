// libFuzzer target for the status-line and header reader: the input is a recorded frame, laid
// out as RGB, packed 4:2:2 or planar 4:2:0 and scaled from a source of 480x360 (short status
// line) or 640x480 (long one) by one of the factors applications use. Nothing may crash, read
// outside the frame, or come out as a confident reading: random pixels hold no status line.
// Built only by scripts/fuzz (clang, -fsanitize=fuzzer,address,undefined).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "check/status_line_reader.h"
#include "synth/frame_image.h"

namespace {

constexpr int32_t kSources[2][2] = {{480, 360}, {640, 480}};
// Includes sizes below the reader's smallest scale, which must be refused at once.
constexpr double kScales[8] = {1.0, 0.75, 2.0 / 3.0, 0.5, 1.0 / 3.0, 1.25, 0.21, 0.1};

const qp::synth::FrameImage& Sheet() {
  static qp::synth::FrameImage* sheet = [] {
    auto* image = new qp::synth::FrameImage;
    if (!image->LoadPicture(QP_ASSETS_DIR "/glyphs.bmp", 0, 0, 0, 24)) std::abort();
    return image;
  }();
  return *sheet;
}

// One reader per source and scale for the whole run, so each keeps its glyphs for its size,
// as the checker keeps one reader per recording.
const qp::check::StatusLineReader& Reader(int source, int scale) {
  static std::unique_ptr<qp::check::StatusLineReader> readers[2][8];
  auto& reader = readers[source][scale];
  if (!reader)
    reader = std::make_unique<qp::check::StatusLineReader>(Sheet(), kSources[source][0],
                                                           kSources[source][1]);
  return *reader;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const int source = data[0] & 1;
  const bool with_header = (data[0] & 0x1e) == 0;  // the header is slow: one input in 16
  const int scale = data[1] % 8;
  const int layout = data[2] % 3;
  data += 3, size -= 3;
  const int32_t width = static_cast<int32_t>(kSources[source][0] * kScales[scale]);
  const int32_t height = static_cast<int32_t>(kSources[source][1] * kScales[scale]);

  // Exactly the bytes the layout needs, so the sanitizers catch any read past them.
  const std::size_t luma = static_cast<std::size_t>(width) * height;
  const std::size_t chroma = static_cast<std::size_t>((width + 1) / 2) * ((height + 1) / 2);
  const std::size_t needed = layout == 0   ? luma * 3
                             : layout == 1 ? static_cast<std::size_t>((width + 1) / 2) * 4 * height
                                           : luma + 2 * chroma;
  std::unique_ptr<uint8_t[]> pixels(new uint8_t[needed]);
  for (std::size_t i = 0; i < needed; ++i) pixels[i] = size > 0 ? data[i % size] : 0;

  qp::check::FrameView view;
  const uint8_t* p = pixels.get();
  if (layout == 0) {
    view = qp::check::ViewOfRgb24(p, width * 3, width, height);
  } else if (layout == 1) {
    view = qp::check::ViewOfPacked422(p, ((width + 1) / 2) * 4, width, height, "UYVY");
  } else {
    const int32_t cw = (width + 1) / 2;
    view = qp::check::ViewOfPlanarYCbCr(p, width, p + luma, cw, p + luma + chroma, cw, width,
                                        height, 1, 1);
  }

  const qp::check::StatusLineReader& reader = Reader(source, scale);
  const qp::check::StatusReading status = reader.ReadStatus(view);
  if (status.readable) {
    std::fprintf(stderr, "confident reading of a fuzzed frame: %s (frame %d, confidence %.3f)\n",
                 status.cells.c_str(), status.frame, status.confidence);
    std::abort();
  }
  if (with_header) {
    const qp::check::HeaderReading header = reader.ReadHeader(view);
    if (header.text.size() != header.margins.size()) std::abort();
  }
  return 0;
}
