// Per-frame cost of frame synthesis: the background window copy against a plain memcpy of the
// same bytes, one status line of overlay text, and the once-per-start load of a background.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "config/preset.h"
#include "frame/frame_composition.h"
#include "frame/frame_plan.h"
#include "frame/status_text.h"
#include "synth/frame_buffer.h"
#include "support/bmp_file.h"
#include "synth/frame_image.h"
#include "synth/pixel_format_code.h"

namespace {

using qp::synth::FrameBuffer;
using qp::synth::FrameImage;

struct Size {
  int32_t width, height;
};
struct Format {
  const char* name;
  uint32_t code;
  int32_t bit_count;
};
constexpr Size kSizes[] = {{640, 480}, {1280, 720}, {1920, 1080}};
constexpr Format kFormats[] = {{"RGB32", qp::synth::kFormatRgb, 32},
                               {"RGB24", qp::synth::kFormatRgb, 24},
                               {"YUY2", qp::synth::kFormatYUY2, 16}};

// The frame's preset: interlaced and scrolling, so that every row wraps (two runs) and the
// fields differ.
qp::config::Preset BenchPreset(const Size& size, const Format& format) {
  qp::config::Preset preset{};
  preset.w = size.width;
  preset.h = size.height;
  preset.compression = format.code;
  preset.bit_count = format.bit_count;
  preset.interlaced = 1;
  preset.scroll_x = 2;
  preset.scroll_y = 2;
  return preset;
}

struct Frame {
  explicit Frame(const Size& size, int32_t bytes_per_pixel)
      : storage(static_cast<std::size_t>(size.width) * size.height * bytes_per_pixel) {
    buffer.bytes = storage.data();
    buffer.size = storage.size();
    buffer.row_pixels = size.width;
    buffer.rows = size.height;
    buffer.pitch = size.width * bytes_per_pixel;
  }
  std::vector<uint8_t> storage;
  FrameBuffer buffer;
};

std::string Label(const Size& s, const Format& f) {
  return std::to_string(s.width) + "x" + std::to_string(s.height) + " " + f.name;
}

// A whole frame's background from a picture of the frame's size, as the stream composes it.
void BM_CopyWindow(benchmark::State& state) {
  const Size& size = kSizes[state.range(0)];
  const Format& format = kFormats[state.range(1)];
  FrameImage background;
  if (!background.CreateBlank(size.width, size.height, format.code, format.bit_count)) {
    state.SkipWithError("CreateBlank failed");
    return;
  }
  Frame frame(size, background.bytes_per_pixel());
  const qp::config::Preset preset = BenchPreset(size, format);
  // Starts two thirds across, so that the rows wrap from the first frame on.
  int32_t n = size.width / 6;
  for (auto _ : state) {
    const bool ok = qp::frame::ComposeBackground(background, preset, 0, n, frame.buffer);
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
    ++n;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * frame.storage.size());
  state.SetLabel(Label(size, format));
}

// The floor: one memcpy of the same byte count between buffers of the same sizes.
void BM_Memcpy(benchmark::State& state) {
  const Size& size = kSizes[state.range(0)];
  const Format& format = kFormats[state.range(1)];
  const int32_t bytes_per_pixel = format.bit_count / 8;
  std::vector<uint8_t> source(static_cast<std::size_t>(size.width) * size.height * bytes_per_pixel,
                              1);
  Frame frame(size, bytes_per_pixel);
  for (auto _ : state) {
    benchmark::DoNotOptimize(source.data());
    std::memcpy(frame.storage.data(), source.data(), source.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * source.size());
  state.SetLabel(Label(size, format));
}

// The status line at the top right with a 256 × 256 sheet (8 × 16 cells), as the stream
// writes and places it in every frame.
void BM_StatusLine(benchmark::State& state) {
  const Size& size = kSizes[state.range(0)];
  const Format& format = kFormats[state.range(1)];
  FrameImage sheet;
  if (!sheet.CreateBlank(256, 256, format.code, format.bit_count)) {
    state.SkipWithError("CreateBlank failed");
    return;
  }
  Frame frame(size, sheet.bytes_per_pixel());
  const qp::config::Preset preset = BenchPreset(size, format);
  char status[qp::frame::kTextSize];
  int32_t n = 123456;
  for (auto _ : state) {
    qp::frame::FormatStatusLine(status, preset.w, n, 12, 5025678 + n * 40, 29.97);
    qp::frame::DrawStatus(sheet, preset, frame.buffer, status);
    benchmark::ClobberMemory();
    ++n;
  }
  state.SetLabel(Label(size, format));
}

// A 24-bit bottom-up BMP with a colour ramp, written once per run.
std::string WriteBackgroundBmp(int32_t width, int32_t height) {
  const std::string path =
      (std::filesystem::temp_directory_path() / "qp_synth_bench_background.bmp").string();
  const std::vector<uint8_t> file =
      qp::test::MakeBmp(qp::test::BmpLayout{width, height}, [](int32_t x, int32_t y, uint8_t* p) {
        p[0] = static_cast<uint8_t>(x);
        p[1] = static_cast<uint8_t>(y);
        p[2] = static_cast<uint8_t>(x ^ y);
      });
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  return out ? path : std::string();
}

void BM_LoadPictureYuy2(benchmark::State& state) {
  const std::string path = WriteBackgroundBmp(1920, 1080);
  if (path.empty()) {
    state.SkipWithError("cannot write the picture");
    return;
  }
  FrameImage image;
  for (auto _ : state) {
    if (!image.LoadPicture(path.c_str(), 1920, 1080, qp::synth::kFormatYUY2, 16)) {
      state.SkipWithError("LoadPicture failed");
      break;
    }
    benchmark::DoNotOptimize(image.Pixels());
  }
  state.SetLabel("1920x1080 YUY2");
  std::remove(path.c_str());
}

const std::vector<std::vector<int64_t>> kAllCases = {{0, 1, 2}, {0, 1, 2}};

}  // namespace

BENCHMARK(BM_CopyWindow)->ArgsProduct(kAllCases);
BENCHMARK(BM_Memcpy)->ArgsProduct(kAllCases);
BENCHMARK(BM_StatusLine)->ArgsProduct(kAllCases);
BENCHMARK(BM_LoadPictureYuy2)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
