// Memory the module keeps after work it has finished, measured as Linux sees the hosting
// process: its resident set (VmRSS) across
// thousands of filter instances and hundreds of stream starts and stops. The first half of each
// run warms the platform's caches and pools; the second half must not grow.
#include <windows.h>

#include <psapi.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "capture/capture_harness.h"
#include "filter/class_ids.h"
#include "module/module_harness.h"

namespace qp::test {
namespace {

constexpr long long kAllowedGrowthKb = 256;

// The hosting process's resident set in KB, or -1 when it cannot be read. Under Wine the
// working set is VmRSS, which ntdll reads from /proc/self/status in the process itself (a
// file opened through drive Z: would be opened by the Wine server, and /proc/self be its own).
long long ResidentKb() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return -1;
  return static_cast<long long>(counters.WorkingSetSize / 1024);
}

class LeakTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    ASSERT_GT(ResidentKb(), 0);
  }
  void TearDown() override { CoUninitialize(); }

  // Runs `cycle` `count` times; the growth of the resident set over the second half, in KB.
  template <typename Cycle>
  long long SecondHalfGrowthKb(const char* what, int count, Cycle cycle) {
    long long half = 0;
    for (int n = 0; n < count && !HasFatalFailure(); ++n) {
      if (n == count / 2) half = ResidentKb();
      cycle();
    }
    const long long end = ResidentKb();
    std::printf("%s: %d cycles, VmRSS %lld KB at the half, %lld KB at the end (%+lld KB)\n", what,
                count, half, end, end - half);
    return end - half;
  }
};

TEST_F(LeakTest, FilterInstancesCreatedAndReleased) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(S_OK, Module().DllGetClassObject(filter::kVideoSourceFilterClassId, IID_IClassFactory,
                                             reinterpret_cast<void**>(&factory)));
  // The INI and pictures as the streaming case has them, so each instance reads its presets.
  ModuleFiles files;
  files.Background("qp_bg.bmp", 64, 48);
  files.GlyphSheet("qp_font.bmp");
  files.Ini(OnePresetIni(320, 240, "YUY2"));
  const long long growth = SecondHalfGrowthKb("filter create/release", 2000, [&] {
    IBaseFilter* filter = nullptr;
    ASSERT_EQ(S_OK,
              factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
    // Pins and their media types are made on demand; ask for them as a host does.
    IEnumPins* pins = nullptr;
    ASSERT_EQ(S_OK, filter->EnumPins(&pins));
    IPin* pin = nullptr;
    ASSERT_EQ(S_OK, pins->Next(1, &pin, nullptr));
    IEnumMediaTypes* types = nullptr;
    ASSERT_EQ(S_OK, pin->EnumMediaTypes(&types));
    AM_MEDIA_TYPE* type = nullptr;
    ASSERT_EQ(S_OK, types->Next(1, &type, nullptr));
    CoTaskMemFree(type->pbFormat);
    if (type->pUnk) type->pUnk->Release();
    CoTaskMemFree(type);
    types->Release();
    pin->Release();
    pins->Release();
    EXPECT_EQ(0u, filter->Release());
  });
  EXPECT_LT(growth, kAllowedGrowthKb);
}

TEST_F(LeakTest, StreamStartedAndStoppedInAGraph) {
  ModuleFiles files;
  files.Background("qp_bg.bmp", 320, 240);
  files.GlyphSheet("qp_font.bmp");
  files.Ini(OnePresetIni(320, 240, "YUY2", "frame_time=200\n"));
  ComPtr<IBaseFilter> source;
  ASSERT_EQ(S_OK, CreateSource(source));
  SampleLog log;
  GrabberGraph graph;
  ASSERT_EQ(S_OK, graph.Add(source.Get(), &log));
  ASSERT_EQ(S_OK, graph.ConnectDirect(source.Get()));

  Watchdog dog(600000, "200 stream starts and stops");
  const long long growth = SecondHalfGrowthKb("stream run/stop", 200, [&] {
    const size_t before = log.Count();
    ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
    // Each start allocates buffers, loads the pictures and starts a thread; a couple of frames
    // make sure it got that far. Generous: the machine may be busy.
    ASSERT_TRUE(log.WaitFor(before + 2, 30000));
    ASSERT_EQ(S_OK, graph.control->Stop());
  });
  graph.Stop();
  EXPECT_LT(growth, kAllowedGrowthKb);
}

}  // namespace
}  // namespace qp::test
