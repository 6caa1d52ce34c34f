// The worker thread a stopped stream keeps for its next start, in real graphs: what an
// application's callback did to it in an earlier run, its end at the host's hands, and the
// filter's last release under the loader lock (a host that releases from DllMain).
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "capture/capture_harness.h"
#include "filter/class_ids.h"
#include "module/module_harness.h"

namespace qp::test {
namespace {

// Records the streaming thread; at the first frame of each run also its priority and its
// affinity, and then, when asked, raises the one and narrows the other as a callback may.
class ThreadLog : public SampleLog {
 public:
  void NextRun(bool raise) {
    raise_ = raise;
    first_ = true;
  }

  std::atomic<DWORD> thread_id{0};
  std::atomic<int> priority{THREAD_PRIORITY_ERROR_RETURN};
  std::atomic<DWORD_PTR> affinity{0};

 protected:
  void OnFrame(size_t, const Entry&, const BYTE*, long) override {
    thread_id = GetCurrentThreadId();
    if (!first_.exchange(false)) return;
    const HANDLE self = GetCurrentThread();
    priority = GetThreadPriority(self);
    DWORD_PTR process = 0, system = 0;
    GetProcessAffinityMask(GetCurrentProcess(), &process, &system);
    // Setting it is the only way to read it; what it was is put back.
    affinity = SetThreadAffinityMask(self, process);
    if (!raise_) return;
    SetThreadPriority(self, THREAD_PRIORITY_HIGHEST);
    SetThreadAffinityMask(self, process & (~process + 1));  // its lowest processor alone
  }

 private:
  std::atomic<bool> raise_{false};
  std::atomic<bool> first_{true};
};

bool WaitUntil(DWORD limit_ms, bool (*condition)(const void*), const void* context) {
  for (DWORD waited = 0; waited < limit_ms; waited += 10) {
    if (condition(context)) return true;
    Sleep(10);
  }
  return condition(context);
}

class KeptThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    files_.Background("qp_bg.bmp", 64, 48);
    files_.GlyphSheet("qp_font.bmp");
    files_.Ini(OnePresetIni(64, 48, "YUY2", "frame_time=100000\n"));
  }
  void TearDown() override { CoUninitialize(); }

  // One run of `graph` until `log` saw three frames of it.
  static void RunOnce(GrabberGraph& graph, ThreadLog& log, bool raise) {
    log.NextRun(raise);
    const size_t before = log.Count();
    ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
    ASSERT_TRUE(log.WaitFor(before + 3, 60000));
    ASSERT_EQ(S_OK, graph.control->Stop());
  }

  ModuleFiles files_;
};

TEST_F(KeptThreadTest, EachRunStartsWithNormalPriorityAndTheProcessAffinity) {
  ComPtr<IBaseFilter> source;
  ThreadLog log;
  GrabberGraph graph;
  ASSERT_EQ(S_OK, CreateSource(source));
  ASSERT_EQ(S_OK, graph.Add(source.Get(), &log));
  ASSERT_EQ(S_OK, graph.ConnectDirect(source.Get()));
  Watchdog dog(180000, "three runs");
  DWORD_PTR process = 0, system = 0;
  ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &process, &system));

  RunOnce(graph, log, true);
  const DWORD first = log.thread_id;
  EXPECT_EQ(log.priority, THREAD_PRIORITY_NORMAL);
  for (int run = 2; run <= 3; ++run) {
    RunOnce(graph, log, run == 2);
    EXPECT_EQ(log.thread_id, first) << "run " << run << " on another thread: nothing was kept";
    EXPECT_EQ(log.priority, THREAD_PRIORITY_NORMAL) << "run " << run;
    EXPECT_EQ(log.affinity, process) << "run " << run;
  }
  graph.Stop();
}

// The host ended the kept thread between two runs: the next start finds it gone and starts a
// new one instead of failing.
TEST_F(KeptThreadTest, AKeptThreadTheHostEndedIsReplaced) {
  ComPtr<IBaseFilter> source;
  ThreadLog log;
  GrabberGraph graph;
  ASSERT_EQ(S_OK, CreateSource(source));
  ASSERT_EQ(S_OK, graph.Add(source.Get(), &log));
  ASSERT_EQ(S_OK, graph.ConnectDirect(source.Get()));
  Watchdog dog(180000, "runs around an ended thread");

  RunOnce(graph, log, false);
  const DWORD first = log.thread_id;
  HANDLE worker = OpenThread(THREAD_TERMINATE | SYNCHRONIZE, FALSE, first);
  ASSERT_NE(worker, nullptr) << "no thread kept";
  ASSERT_TRUE(TerminateThread(worker, 0xDEAD));
  EXPECT_EQ(WaitForSingleObject(worker, 10000), WAIT_OBJECT_0);
  CloseHandle(worker);

  // S_FALSE from the graph: its renderer has not had a sample yet.
  const HRESULT paused = graph.control->Pause();
  EXPECT_TRUE(paused == S_OK || paused == S_FALSE) << std::hex << paused;
  FILTER_STATE state = State_Stopped;
  EXPECT_TRUE(SUCCEEDED(source->GetState(0, &state)));
  EXPECT_EQ(state, State_Paused);
  RunOnce(graph, log, false);
  EXPECT_NE(log.thread_id, first);
  RunOnce(graph, log, false);  // and that one is kept in turn
  graph.Stop();
}

using LockFunction = LONG(NTAPI*)(ULONG flags, ULONG* disposition, ULONG_PTR* cookie);
using UnlockFunction = LONG(NTAPI*)(ULONG flags, ULONG_PTR cookie);

// Releases `filter` with the loader lock held, as a host's DllMain does.
struct LockedRelease {
  IBaseFilter* filter;
  ULONG left = 1;
  LONG locked = -1;

  static DWORD WINAPI Run(void* self) {
    auto* call = static_cast<LockedRelease*>(self);
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    const auto lock = reinterpret_cast<LockFunction>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrLockLoaderLock")));
    const auto unlock = reinterpret_cast<UnlockFunction>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrUnlockLoaderLock")));
    ULONG_PTR cookie = 0;
    if (!lock || !unlock || (call->locked = lock(0, nullptr, &cookie)) != 0) return 1;
    call->left = call->filter->Release();
    unlock(0, cookie);
    return 0;
  }
};

bool Unloaded(const void* path) {
  return GetModuleHandleW(static_cast<const std::wstring*>(path)->c_str()) == nullptr;
}

// A copy of the module, so that this test holds its only reference: the kept thread must not
// make the last Release wait for its end (which needs the loader lock), and must still let
// the module go once it has ended.
TEST_F(KeptThreadTest, LastReleaseUnderTheLoaderLockReturnsAndTheModuleStillUnloads) {
  const std::wstring original = ModulePath();
  const std::wstring copy = original.substr(0, original.size() - 3) + L"-copy.ax";
  ASSERT_TRUE(CopyFileW(original.c_str(), copy.c_str(), FALSE));
  HMODULE module = LoadLibraryW(copy.c_str());
  ASSERT_NE(module, nullptr);
  const auto get_class = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  const auto can_unload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
  ASSERT_TRUE(get_class && can_unload);

  IBaseFilter* filter = nullptr;
  {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, get_class(filter::kVideoSourceFilterClassId, IID_IClassFactory,
                              reinterpret_cast<void**>(&factory)));
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IBaseFilter,
                                            reinterpret_cast<void**>(&filter)));
  }
  ThreadLog log;
  {
    Watchdog dog(120000, "a run of the copy");
    GrabberGraph graph;
    ASSERT_EQ(S_OK, graph.Add(filter, &log));
    ASSERT_EQ(S_OK, graph.ConnectDirect(filter));
    RunOnce(graph, log, false);
    graph.Stop();
    graph.graph->RemoveFilter(filter);
  }
  HANDLE worker = OpenThread(SYNCHRONIZE, FALSE, log.thread_id);
  ASSERT_NE(worker, nullptr) << "no thread kept";
  ASSERT_EQ(WaitForSingleObject(worker, 0), static_cast<DWORD>(WAIT_TIMEOUT));

  LockedRelease release{filter};
  HANDLE releasing = CreateThread(nullptr, 0, &LockedRelease::Run, &release, 0, nullptr);
  ASSERT_NE(releasing, nullptr);
  if (WaitForSingleObject(releasing, 2000) != WAIT_OBJECT_0) {
    // It holds the loader lock for good: no thread can start or end in this process.
    std::fprintf(stderr, "FAILED: the last Release under the loader lock did not return\n");
    std::fflush(stderr);
    std::_Exit(EXIT_FAILURE);
  }
  CloseHandle(releasing);
  ASSERT_EQ(release.locked, 0) << "the loader lock could not be taken";
  EXPECT_EQ(release.left, 0u);

  EXPECT_EQ(S_OK, can_unload());
  FreeLibrary(module);
  EXPECT_EQ(WaitForSingleObject(worker, 10000), WAIT_OBJECT_0) << "the worker outlived its filter";
  CloseHandle(worker);
  // The worker's reference was the module's last.
  EXPECT_TRUE(WaitUntil(10000, Unloaded, &copy)) << "the module stays loaded";
  DeleteFileW(copy.c_str());
}

}  // namespace
}  // namespace qp::test
