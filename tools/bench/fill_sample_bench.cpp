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
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/source_filter_base.h"
#include "framework/stream_hooks.h"
#include "stream/video_media_type.h"
#include "stream/video_stream_pin.h"

namespace {

using qp::framework::CriticalSection;
using qp::framework::MediaType;
using qp::framework::StreamCommand;

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
void WriteBmp(const std::filesystem::path& path, int32_t width, int32_t height) {
  const uint32_t row_bytes = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
  std::vector<uint8_t> file(54 + row_bytes * height, 0);
  auto put32 = [&](std::size_t at, uint32_t v) { std::memcpy(&file[at], &v, 4); };
  file[0] = 'B';
  file[1] = 'M';
  put32(2, static_cast<uint32_t>(file.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(width));
  put32(22, static_cast<uint32_t>(height));
  file[26] = 1;
  file[28] = 24;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = &file[54 + row_bytes * y + x * 3];
      p[0] = static_cast<uint8_t>(x * 3 + y);
      p[1] = static_cast<uint8_t>(x ^ y);
      p[2] = static_cast<uint8_t>(y * 5);
    }
  }
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
}

// The system's clocks, the settings from an INI file in a scratch folder.
class BenchEnvironment final : public qp::stream::StreamEnvironment {
 public:
  BenchEnvironment(std::filesystem::path directory, std::filesystem::path ini)
      : directory_(std::move(directory)), ini_(std::move(ini)) {}
  bool LoadConfiguration(qp::config::StreamConfiguration& settings) override {
    return settings.LoadConfigurationFrom(ini_.string().c_str());
  }
  void ModuleDirectory(char (&dest)[qp::platform::kMaxPath]) override {
    lstrcpynA(dest, directory_.string().c_str(), sizeof dest);
  }
  DWORD TickCount() override { return system_.TickCount(); }
  int64_t PerformanceCounter() override { return system_.PerformanceCounter(); }
  int64_t PerformanceFrequency() override { return system_.PerformanceFrequency(); }
  void SleepMs(DWORD ms) override { system_.SleepMs(ms); }
  void SleepUs(int64_t us) override { system_.SleepUs(us); }
  void SpinPause() override { system_.SpinPause(); }
  void PrefetchPages(uint8_t* bytes, std::size_t size) override {
    system_.PrefetchPages(bytes, size);
  }
  int64_t ThreadCpuTime() override { return system_.ThreadCpuTime(); }
  void BeginTimerPeriod(FineTimer& timer) override { system_.BeginTimerPeriod(timer); }
  void EndTimerPeriod(FineTimer& timer) override { system_.EndTimerPeriod(timer); }
  void SleepFineUs(const FineTimer& timer, int64_t us) override { system_.SleepFineUs(timer, us); }

 private:
  std::filesystem::path directory_;
  std::filesystem::path ini_;
  qp::stream::StreamEnvironment& system_ = qp::stream::SystemStreamEnvironment();
};

// A running filter without a clock, no command posted.
class RunningServices final : public qp::framework::StreamServices {
 public:
  bool PeekCommand(StreamCommand&) override { return false; }
  bool WaitForCommand(int64_t timeout_us, StreamCommand&) override {
    Sleep(static_cast<DWORD>(timeout_us / 1000));
    return false;
  }
  bool FineCommandWait() override { return false; }
  HRESULT GetStreamTime(REFERENCE_TIME&) override { return VFW_E_NO_CLOCK; }
  HRESULT GetFilterState(DWORD, FILTER_STATE& state) override {
    state = State_Running;
    return S_OK;
  }
  CriticalSection& PinLock() override { return lock_; }
  HRESULT SetConnectionType(const MediaType& type) override { return type_.Assign(type); }
  const MediaType& ConnectionType() override { return type_; }

 private:
  CriticalSection lock_;
  MediaType type_;
};

// Holds the stream the way its filter does; the stream talks to RunningServices, not to it.
class HostFilter final : public qp::framework::SourceFilterBase {
 public:
  HostFilter() : SourceFilterBase(nullptr, GUID_NULL) {}
};

// A sample over a heap buffer; only what FillSample calls does anything.
class BufferSample final : public IMediaSample {
 public:
  explicit BufferSample(long size) : bytes_(new uint8_t[size]()), size_(size) {}
  uint8_t* Bytes() { return bytes_.get(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetPointer(BYTE** buffer) override {
    *buffer = bytes_.get();
    return S_OK;
  }
  long STDMETHODCALLTYPE GetSize() override { return size_; }
  HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE IsSyncPoint() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE IsPreroll() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetPreroll(BOOL) override { return E_NOTIMPL; }
  long STDMETHODCALLTYPE GetActualDataLength() override { return size_; }
  HRESULT STDMETHODCALLTYPE SetActualDataLength(long) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsDiscontinuity() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }

 private:
  std::unique_ptr<uint8_t[]> bytes_;
  long size_;
};

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
  BufferSample samples[2] = {BufferSample(size), BufferSample(size)};
  BufferSample copies[2] = {BufferSample(size), BufferSample(size)};
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

bool Measure(const std::filesystem::path& directory, const char* fcc, int bytes_per_pixel,
             int frames, int scroll_x, int scroll_y, bool top_down = false,
             Spread spread = Spread::kOneBuffer) {
  // One file per format: the system may cache a profile file by its name.
  const std::string name = std::string(fcc) + (top_down ? "-down" : "") + " scroll " +
                           std::to_string(scroll_x) + "," + std::to_string(scroll_y);
  const std::filesystem::path ini =
      directory / ("QuorPlemo_" + std::string(fcc) + "_" + std::to_string(scroll_x) + "_" +
                   std::to_string(scroll_y) + ".ini");
  std::ofstream(ini) << "[MAIN]\n[PRESET_01]\nenable=1\nw=1920\nh=1080\nfcc=" << fcc
                     << "\nscroll_x=" << scroll_x << "\nscroll_y=" << scroll_y
                     << "\nbmp=bg.bmp\nfont=font.bmp\ncomment=bench\n";
  BenchEnvironment environment(directory, ini);
  RunningServices services;
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
        name, environment, [&](BufferSample& into) { return pin.FillSample(&into) == S_OK; }, size);
    pin.OnThreadStop();
    return !failed;
  }
  const int buffers = spread == Spread::kBeyondCaches ? BuffersBeyondCaches(size) : 1;
  std::vector<std::unique_ptr<BufferSample>> samples;
  for (int i = 0; i < buffers; ++i) samples.push_back(std::make_unique<BufferSample>(size));
  std::vector<uint8_t> source(static_cast<std::size_t>(size), 0x5A);
  int filled = 0;
  int copied = 0;
  double fill = 0.0;
  double copy = 0.0;
  BestRates(
      frames, [&] { failed |= pin.FillSample(samples[filled++ % buffers].get()) != S_OK; },
      [&] {
        BufferSample& sample = *samples[copied++ % buffers];
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
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  const std::filesystem::path directory =
      std::filesystem::path(temp) / ("qp_fill_bench_" + std::to_string(GetCurrentProcessId()));
  std::filesystem::create_directories(directory);
  WriteBmp(directory / "bg.bmp", 640, 360);    // tiled 3 × 3 to the frame
  WriteBmp(directory / "font.bmp", 512, 256);  // glyph cells of 16 × 16

  std::printf("1920x1080 frames, frame time 0\n%-22s %10s %12s %9s\n", "format", "fill fps",
              "memcpy fps", "fill %");
  bool ok = true;
  // Still, scrolling vertically only, and scrolling 2 pixels a frame in both directions (the
  // window then starts mid-row and each row is copied in two runs).
  for (const auto& [x, y] : {std::pair{0, 0}, std::pair{0, 2}, std::pair{2, 2}}) {
    ok = Measure(directory, "YUY2", 2, frames, x, y) && ok;
    ok = Measure(directory, "RG32", 4, frames, x, y) && ok;
    ok = Measure(directory, "RG32", 4, frames, x, y, true) && ok;
  }

  std::printf("\nspread over buffers twice the largest cache (%zu KiB)\n%-22s %10s %12s %9s\n",
              LargestCacheBytes() / 1024, "format", "fill fps", "memcpy fps", "fill %");
  for (const auto& [x, y] : {std::pair{0, 0}, std::pair{0, 2}, std::pair{2, 2}})
    ok = Measure(directory, "YUY2", 2, frames, x, y, false, Spread::kBeyondCaches) && ok;
  std::printf("target: fill >= 85%% of the memcpy rate over buffers beyond the caches\n");

  // Paced like a 60 fps stream, where the copy meets cold caches: ms per frame.
  std::printf("\npaced at 60 fps, median ms per frame\n%-22s %9s %11s %9s\n", "format", "fill ms",
              "memcpy ms", "fill %");
  for (const auto& [x, y] : {std::pair{0, 0}, std::pair{2, 2}}) {
    ok = Measure(directory, "YUY2", 2, frames, x, y, false, Spread::kPaced) && ok;
    ok = Measure(directory, "RG32", 4, frames, x, y, false, Spread::kPaced) && ok;
  }

  std::error_code ignored;
  std::filesystem::remove_all(directory, ignored);
  return ok ? 0 : 1;
}
