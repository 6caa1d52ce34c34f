// libFuzzer target for the BMP reader and LoadPicture: every input is parsed as a file and as
// a packed DIB, and loaded from a file into a frame image whose pixels are checked against
// the parsed picture. Built only by scripts/fuzz (clang, -fsanitize=fuzzer,address,undefined).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "synth/bmp_reader.h"
#include "synth/frame_image.h"
#include "synth/pixel_format.h"

namespace {

using qp::synth::BmpPicture;
using qp::synth::FrameImage;

// Reads every pixel byte the picture claims, so the sanitizers see any view past the input.
unsigned Touch(const BmpPicture& picture) {
  unsigned sum = 0;
  for (int32_t y = 0; y < picture.height; ++y) {
    const uint8_t* line = picture.Line(y);
    for (int32_t i = 0; i < picture.width * picture.bytes_per_pixel; ++i) sum += line[i];
  }
  return sum;
}

const std::string& ScratchPath() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    std::string p = std::string(dir != nullptr ? dir : "/tmp") + "/qp_bmp_fuzz_" +
                    std::to_string(getpid()) + ".bmp";
    return p;
  }();
  return path;
}

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

// The image must show picture pixel (x mod w, line mod h) everywhere, in its format's layout.
void CheckImage(const FrameImage& image, const BmpPicture& picture, int32_t request_w,
                int32_t request_h) {
  Check(image.width() >= request_w && image.height() >= request_h, "covers the request");
  Check(image.width() % picture.width == 0 && image.height() % picture.height == 0,
        "whole multiples");
  Check(image.width() < picture.width + (request_w > picture.width ? request_w : picture.width),
        "smallest multiple");
  Check(image.stride() == image.width() * image.bytes_per_pixel(), "packed rows");
  const uint8_t* pixels = image.Pixels();
  for (int32_t row = 0; row < image.height(); ++row) {
    const uint8_t* stored = pixels + std::size_t(row) * image.stride();
    if (image.format() == qp::synth::kFormatRgb) {
      const uint8_t* line = picture.Line(row % picture.height);
      for (int32_t x = 0; x < image.width(); ++x) {
        const uint8_t* want = line + (x % picture.width) * picture.bytes_per_pixel;
        Check(std::memcmp(stored + x * image.bytes_per_pixel(), want, 3) == 0, "RGB pixel");
      }
    } else {
      const int32_t from_bottom = picture.height - 1 - row % picture.height;
      const uint8_t* line = picture.Line(from_bottom);
      const auto pack = qp::synth::PackerFor(image.format());
      for (int32_t k = 0; k < image.width() / 2; ++k) {
        uint8_t want[4];
        pack(line + ((2 * k) % picture.width) * picture.bytes_per_pixel,
             line + ((2 * k + 1) % picture.width) * picture.bytes_per_pixel, want);
        Check(std::memcmp(stored + 4 * k, want, 4) == 0, "4:2:2 pair");
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // Exact-size heap copy: libFuzzer's own buffer is exact too, but make it explicit.
  std::vector<uint8_t> bytes(data, data + size);
  volatile unsigned sink = 0;
  BmpPicture as_dib;
  if (qp::synth::ParseBmpInfo(bytes.data(), bytes.size(), as_dib)) sink = sink + Touch(as_dib);
  BmpPicture as_file;
  const bool parsed = qp::synth::ParseBmpFile(bytes.data(), bytes.size(), as_file);
  if (parsed) sink = sink + Touch(as_file);

  static const std::pair<uint32_t, int32_t> kPairs[] = {
      {qp::synth::kFormatRgb, 32},  {qp::synth::kFormatRgb, 24},  {qp::synth::kFormatYUY2, 16},
      {qp::synth::kFormatYVYU, 16}, {qp::synth::kFormatUYVY, 16}, {qp::synth::kFormatHDYC, 16}};
  const auto [format, bits] = kPairs[size % 6];
  const int32_t request_w = static_cast<int32_t>((size * 7) % 70);
  const int32_t request_h = static_cast<int32_t>((size * 13) % 50);

  FILE* file = std::fopen(ScratchPath().c_str(), "wb");
  if (file == nullptr) return 0;
  const bool written = std::fwrite(data, 1, size, file) == size;
  std::fclose(file);
  if (!written) return 0;

  FrameImage image;
  const bool loaded = image.LoadPicture(ScratchPath().c_str(), request_w, request_h, format, bits);
  Check(loaded == parsed, "LoadPicture agrees with the reader");
  if (loaded) CheckImage(image, as_file, request_w, request_h);
  return 0;
}
