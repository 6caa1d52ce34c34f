#include "support/stream_test_doubles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string_view>

#include "synth/bmp_test_picture.h"

namespace qp::stream::test {

FakeSample::FakeSample(long size, FakeEnvironment* clock) : size_(size), clock_(clock) {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const std::size_t page = system.dwPageSize;
  const std::size_t usable = (static_cast<std::size_t>(size) + page - 1) / page * page;
  region_ = VirtualAlloc(nullptr, usable + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  DWORD old;
  VirtualProtect(static_cast<uint8_t*>(region_) + usable, page, PAGE_NOACCESS, &old);
  bytes_ = static_cast<uint8_t*>(region_) + usable - size;
}

FakeSample::~FakeSample() { VirtualFree(region_, 0, MEM_RELEASE); }

void FakeSample::Fill(uint8_t value) {
  std::memset(bytes_, value, static_cast<std::size_t>(size_));
}

void FakeSample::Forget() {
  set_time_calls = 0;
  start = stop = -1;
  stamped_at_ms = -1.0;
  sync_point.reset();
  actual_length.reset();
}

HRESULT FakeSample::SetTime(REFERENCE_TIME* startTime, REFERENCE_TIME* stop_time) {
  ++set_time_calls;
  start = *startTime;
  stop = *stop_time;
  if (clock_ != nullptr) stamped_at_ms = clock_->NowMs();
  return S_OK;
}

std::string OnePresetIni(const std::string& keys, const std::string& main) {
  return "[MAIN]\n" + main + "[PRESET_01]\nenable=1\n" + keys;
}

std::vector<uint8_t> GlyphSheetBmp() {
  synth::testing::BmpLayout layout;
  layout.width = 64;
  layout.height = 32;
  return synth::testing::MakeBmp(layout, [](int32_t x, int32_t y, uint8_t* bgr) {
    const int32_t column = x / 2;
    const int32_t row_in_band = (y / 2) % 3;
    bgr[0] = static_cast<uint8_t>(8 * column + (x & 1));
    bgr[1] = static_cast<uint8_t>(80 * row_in_band + 40 * (y & 1) + 3);
    bgr[2] = static_cast<uint8_t>(255 - 7 * column);
  });
}

StreamRig::StreamRig(const std::string& keys, const std::string& main)
    : env(OnePresetIni("font=font.bmp\n" + keys, main)) {
  WriteFile("font.bmp", GlyphSheetBmp());
  pin = std::make_unique<VideoStreamPin>(&created, &host, L"Quor Plemo", env, &services);
}

void StreamRig::Start() { EXPECT_EQ(pin->OnThreadStart(), S_OK); }

std::string StreamRig::WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  return env.Directory().Write(
      name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace qp::stream::test
