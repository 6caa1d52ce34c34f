// Frames per second of VideoStreamPin::FillSample at 1920×1080 with every frame due at once
// (frame time 0), next to memcpy of the same frame size in the same run. Runs under Wine:
//   fill_sample_bench [frames per round]
// A frame is the whole FillSample: background window, header and status text, stamps, latency
// line. The best of several rounds is reported for both, so other load counts least.
// Into one buffer, a memcpy on a processor whose last cache holds two frames never reaches the
// memory, while the stream writes large frames around the caches; so the fills and copies are
// also spread over buffers that together are twice that cache, which is what the memory gives.
#include <windows.h>

#include <dshow.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "stream/video_media_type.h"
#include "stream/video_stream_pin.h"
#include "support/bmp_file.h"
#include "support/stream_test_doubles.h"

namespace {

using qp::framework::MediaType;
using qp::stream::test::FakeSample;
using qp::stream::test::FakeServices;
using qp::stream::test::HostFilter;
using qp::stream::test::ScratchEnvironment;

constexpr int kRounds = 9;

double Seconds() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / frequency;
}

// A 24-bit BMP whose colours vary with position.
std::vector<uint8_t> Picture(int32_t width, int32_t height) {
  return qp::test::MakeBmp(qp::test::BmpLayout{width, height},
                           [](int32_t x, int32_t y, uint8_t* p) {
                             p[0] = static_cast<uint8_t>(x * 3 + y);
                             p[1] = static_cast<uint8_t>(x ^ y);
                             p[2] = static_cast<uint8_t>(y * 5);
                           });
}

// Frames per second of the best round of each, the rounds of the two alternating so that
// drifts of the machine's speed hit both alike.
template <typename Fill, typename Copy>
void BestRates(int frames, Fill fill, Copy copy, double& fill_rate, double& copy_rate) {
  for (int i = 0; i < frames / 10 + 1; ++i) {  // warm caches and pages
    fill();
    copy();
  }
  fill_rate = copy_rate = 0.0;
  for (int round = 0; round < kRounds; ++round) {
    double start = Seconds();
    for (int i = 0; i < frames; ++i) fill();
    fill_rate = std::max(fill_rate, frames / (Seconds() - start));
    start = Seconds();
    for (int i = 0; i < frames; ++i) copy();
    copy_rate = std::max(copy_rate, frames / (Seconds() - start));
  }
}

// Bytes of the largest cache the system reports; 0 when it reports none.
std::size_t LargestCacheBytes() {
  DWORD length = 0;
  GetLogicalProcessorInformation(nullptr, &length);
  std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> entries(
      length / sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION) + 1);
  if (length == 0 || !GetLogicalProcessorInformation(entries.data(), &length)) return 0;
  std::size_t largest = 0;
  for (DWORD i = 0; i < length / sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION); ++i) {
    if (entries[i].Relationship == RelationCache)
      largest = std::max<std::size_t>(largest, entries[i].Cache.Size);
  }
  return largest;
}

// How many frames of `size` bytes hold twice the largest cache; at least 4, at most 64.
int BuffersBeyondCaches(long size) {
  const std::size_t wanted = 2 * LargestCacheBytes() / static_cast<std::size_t>(size) + 1;
  return static_cast<int>(std::clamp<std::size_t>(wanted, 4, 64));
}

// As a stream at 60 fps runs: two samples taken in turn, a frame time of sleep after each, so
// that every fill starts with caches the sleep let go cold. Fills and copies alternate, so that
// drifts of the machine hit both alike; the medians are reported.
template <typename Fill>
bool MeasurePaced(const std::string& name, qp::stream::StreamEnvironment& environment, Fill fill,
                  long size) {
  constexpr int kPacedFrames = 120;
  constexpr int64_t kFrameUs = 16667;
  FakeSample samples[2] = {FakeSample(size), FakeSample(size)};
  FakeSample copies[2] = {FakeSample(size), FakeSample(size)};
  std::vector<uint8_t> source(static_cast<std::size_t>(size), 0x5A);
  std::vector<double> fill_ms, copy_ms;
  bool ok = true;
  for (int i = 0; i < kPacedFrames + 2; ++i) {  // the first two touch fresh pages
    double start = Seconds();
    ok = fill(samples[i & 1]) && ok;
    const double filled = Seconds() - start;
    environment.SleepUs(kFrameUs);
    start = Seconds();
    std::memcpy(copies[i & 1].Bytes(), source.data(), source.size());
    const double copied = Seconds() - start;
    environment.SleepUs(kFrameUs);
    if (i < 2) continue;
    fill_ms.push_back(filled * 1000.0);
    copy_ms.push_back(copied * 1000.0);
  }
  const auto median = [](std::vector<double>& v) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
  };
  const double fill_median = median(fill_ms);
  const double copy_median = median(copy_ms);
  std::printf("%-22s %9.3f %11.3f %8.1f%%  (%.1f ms/s fill at 60 fps)\n", name.c_str(), fill_median,
              copy_median, 100.0 * copy_median / fill_median, fill_median * 60.0);
  if (!ok) std::fprintf(stderr, "%s: FillSample did not answer S_OK\n", name.c_str());
  return ok;
}

// `top_down`: the connection agreed on top-down rows (RGB with a negative height), which the
// stream writes from the other end of the buffer.
enum class Spread { kOneBuffer, kBeyondCaches, kPaced };

bool Measure(const char* fcc, int bytes_per_pixel, int frames, int scroll_x, int scroll_y,
             bool top_down = false, Spread spread = Spread::kOneBuffer) {
  const std::string name = std::string(fcc) + (top_down ? "-down" : "") + " scroll " +
                           std::to_string(scroll_x) + "," + std::to_string(scroll_y);
  // A folder of its own per measurement: the system may cache a profile file by its name.
  ScratchEnvironment environment(
      "[MAIN]\n[PRESET_01]\nenable=1\nw=1920\nh=1080\nfcc=" + std::string(fcc) +
      "\nscroll_x=" + std::to_string(scroll_x) + "\nscroll_y=" + std::to_string(scroll_y) +
      "\nbmp=bg.bmp\nfont=font.bmp\ncomment=bench\n");
  environment.Directory().Write("bg.bmp", Picture(640, 360));    // tiled 3 × 3 to the frame
  environment.Directory().Write("font.bmp", Picture(512, 256));  // glyph cells of 16 × 16
  FakeServices services;
  HRESULT created = S_OK;
  HostFilter host;
  qp::stream::VideoStreamPin pin(&created, &host, L"Quor Plemo", environment, &services);
  // A frame time of 0 (which the INI file cannot say) makes every frame due at once.
  qp::config::Preset preset = pin.CurrentPreset();
  preset.frame_time = 0;
  pin.SelectPreset(preset);
  MediaType connection;
  if (qp::stream::BuildOfferedType(preset, false, connection)) {
    BITMAPINFOHEADER* header = &reinterpret_cast<VIDEOINFOHEADER*>(connection.pbFormat)->bmiHeader;
    if (top_down) header->biHeight = -header->biHeight;
    services.SetConnectionType(connection);
  }
  if (FAILED(created) || pin.OnThreadStart() != S_OK) {
    std::fprintf(stderr, "%s: the stream did not start\n", fcc);
    return false;
  }
  const long size = 1920L * 1080 * bytes_per_pixel;
  bool failed = false;
  if (spread == Spread::kPaced) {
    failed = !MeasurePaced(
        name, environment, [&](FakeSample& into) { return pin.FillSample(&into) == S_OK; }, size);
    pin.OnThreadStop();
    return !failed;
  }
  const int buffers = spread == Spread::kBeyondCaches ? BuffersBeyondCaches(size) : 1;
  std::vector<std::unique_ptr<FakeSample>> samples;
  for (int i = 0; i < buffers; ++i) {
    samples.push_back(std::make_unique<FakeSample>(size));
    // Touched now, as an allocator's buffers are: the rounds time copies, not page faults.
    samples.back()->Fill(0);
  }
  std::vector<uint8_t> source(static_cast<std::size_t>(size), 0x5A);
  int filled = 0;
  int copied = 0;
  double fill = 0.0;
  double copy = 0.0;
  BestRates(
      frames, [&] { failed |= pin.FillSample(samples[filled++ % buffers].get()) != S_OK; },
      [&] {
        FakeSample& sample = *samples[copied++ % buffers];
        std::memcpy(sample.Bytes(), source.data(), source.size());
        // Keeps the copy from being folded away.
        source[0] = static_cast<uint8_t>(source[0] + sample.Bytes()[size - 1]);
      },
      fill, copy);
  pin.OnThreadStop();
  if (failed) std::fprintf(stderr, "%s: FillSample did not answer S_OK\n", fcc);
  std::printf("%-22s %10.1f %12.1f %8.1f%%  (%.2f GB/s memcpy, %d buffer%s)\n", name.c_str(), fill,
              copy, 100.0 * fill / copy, copy * static_cast<double>(size) / 1e9, buffers,
              buffers == 1 ? "" : "s");
  return !failed;
}

}  // namespace

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::atoi(argv[1]) : 200;
  std::printf("1920x1080 frames, frame time 0\n%-22s %10s %12s %9s\n", "format", "fill fps",
              "memcpy fps", "fill %");
  bool ok = true;
  // Still, scrolling vertically only, and scrolling 2 pixels a frame in both directions (the
  // window then starts mid-row and each row is copied in two runs).
  for (const auto& [x, y] : {std::pair{0, 0}, std::pair{0, 2}, std::pair{2, 2}}) {
    ok = Measure("YUY2", 2, frames, x, y) && ok;
    ok = Measure("RG32", 4, frames, x, y) && ok;
    ok = Measure("RG32", 4, frames, x, y, true) && ok;
  }

  std::printf("\nspread over buffers twice the largest cache (%zu KiB)\n%-22s %10s %12s %9s\n",
              LargestCacheBytes() / 1024, "format", "fill fps", "memcpy fps", "fill %");
  for (const auto& [x, y] : {std::pair{0, 0}, std::pair{0, 2}, std::pair{2, 2}})
    ok = Measure("YUY2", 2, frames, x, y, false, Spread::kBeyondCaches) && ok;
  std::printf("target: fill >= 85%% of the memcpy rate over buffers beyond the caches\n");

  // Paced like a 60 fps stream, where the copy meets cold caches: ms per frame.
  std::printf("\npaced at 60 fps, median ms per frame\n%-22s %9s %11s %9s\n", "format", "fill ms",
              "memcpy ms", "fill %");
  for (const auto& [x, y] : {std::pair{0, 0}, std::pair{2, 2}}) {
    ok = Measure("YUY2", 2, frames, x, y, false, Spread::kPaced) && ok;
    ok = Measure("RG32", 4, frames, x, y, false, Spread::kPaced) && ok;
  }

  return ok ? 0 : 1;
}
