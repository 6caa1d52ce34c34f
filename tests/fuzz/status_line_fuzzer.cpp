// libFuzzer target for the status-line and header reader: the input is a recorded frame of
// any small size, laid out as RGB, packed 4:2:2 or planar 4:2:0, read as if it came from a
// source of one of the shipped frame sizes. Nothing may crash, read outside the frame, or
// come out as a confident reading: random pixels hold no status line. Built only by
// scripts/fuzz (clang, -fsanitize=fuzzer,address,undefined).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "check/status_line_reader.h"
#include "synth/frame_image.h"

namespace {

const qp::synth::FrameImage& Sheet() {
  static qp::synth::FrameImage* sheet = [] {
    auto* image = new qp::synth::FrameImage;
    if (!image->LoadPicture(QP_ASSETS_DIR "/glyphs.bmp", 0, 0, 0, 24)) std::abort();
    return image;
  }();
  return *sheet;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const int source = data[0] % 4;
  const bool withHeader = data[0] % 32 < 4;
  const int32_t width = 1 + data[1] % 160, height = 1 + data[2] % 90;
  const int layout = data[3] % 3;
  data += 4, size -= 4;

  // Exactly the bytes the layout needs, so the sanitizers catch any read past them.
  const std::size_t luma = static_cast<std::size_t>(width) * height;
  const std::size_t chroma = static_cast<std::size_t>((width + 1) / 2) * ((height + 1) / 2);
  const std::size_t needed = layout == 0 ? luma * 3 : layout == 1 ? ((width + 1) / 2) * 4 * height
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

  // One reader per source size for the whole run, as the checker keeps one per recording.
  static const qp::check::StatusLineReader readers[] = {{Sheet(), 480, 360}, {Sheet(), 640, 480},
                                                        {Sheet(), 1280, 720}, {Sheet(), 1920, 1080}};
  const qp::check::StatusLineReader& reader = readers[source];
  const qp::check::StatusReading status = reader.ReadStatus(view);
  if (status.readable) {
    std::fprintf(stderr, "confident reading of a fuzzed frame: %s (frame %d, confidence %.3f)\n",
                 status.cells.c_str(), status.frame, status.confidence);
    std::abort();
  }
  // The header compares every cell with every glyph: slow, so only now and then.
  if (withHeader) {
    const qp::check::HeaderReading header = reader.ReadHeader(view);
    if (header.text.size() != header.margins.size()) std::abort();
  }
  return 0;
}
