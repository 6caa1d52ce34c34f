// The worker thread a stopped stream keeps for its next start, in real graphs: what a callback
// did to it in an earlier run, its end at the host's hands, and the filter's last release under
// the loader lock (a host that releases from DllMain).
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "capture/capture_graph_test.h"
#include "filter/class_ids.h"
#include "module/module_harness.h"

namespace qp::test {
namespace {

// The streaming thread and, at the first frame of a run, its priority and affinity; then, when
// asked, raises the one and narrows the other, as a callback may.
class ThreadLog : public SampleLog {
 public:
  void Run(GrabberGraph& graph, bool raise) {
    raise_ = raise;
    first_ = true;
    const size_t before = Count();
    ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
    ASSERT_TRUE(WaitFor(before + 3, 60000));
    ASSERT_EQ(S_OK, graph.control->Stop());
  }

  std::atomic<DWORD> thread_id{0};
  std::atomic<int> priority{THREAD_PRIORITY_ERROR_RETURN};
  std::atomic<DWORD_PTR> affinity{0};

 protected:
  void OnFrame(size_t, const Entry&, const BYTE*, long) override {
    thread_id = GetCurrentThreadId();
    if (!first_.exchange(false)) return;
    priority = GetThreadPriority(GetCurrentThread());
    DWORD_PTR process = 0, system = 0;
    GetProcessAffinityMask(GetCurrentProcess(), &process, &system);
    affinity = SetThreadAffinityMask(GetCurrentThread(), process);  // the only way to read it
    if (!raise_) return;
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    SetThreadAffinityMask(GetCurrentThread(), process & (~process + 1));  // one processor
  }

 private:
  std::atomic<bool> raise_{false};
  std::atomic<bool> first_{true};
};

class KeptThreadTest : public CaptureGraphTest {
 protected:
  void SetUp() override {
    CaptureGraphTest::SetUp();
    PlacePictures(64, 48);
    files_.Ini(OnePresetIni(64, 48, "YUY2", "frame_time=100000\n"));
  }
};

// Each run starts on the kept thread as on a new one; a kept thread the host ended is replaced
// instead of failing the next start.
TEST_F(KeptThreadTest, RunsStartAsOnANewThread) {
  ComPtr<IBaseFilter> source;
  ThreadLog log;
  GrabberGraph graph;
  ASSERT_NO_FATAL_FAILURE(Connect(source, graph, log));
  Watchdog dog(180000, "four runs");
  DWORD_PTR process = 0, system = 0;
  ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &process, &system));

  log.Run(graph, true);
  const DWORD first = log.thread_id;
  log.Run(graph, true);
  EXPECT_EQ(log.thread_id, first) << "nothing was kept";
  EXPECT_EQ(log.priority, THREAD_PRIORITY_NORMAL);
  EXPECT_EQ(log.affinity, process);

  HANDLE worker = OpenThread(THREAD_TERMINATE | SYNCHRONIZE, FALSE, first);
  ASSERT_NE(worker, nullptr);
  ASSERT_TRUE(TerminateThread(worker, 0xDEAD));
  EXPECT_EQ(WaitForSingleObject(worker, 10000), WAIT_OBJECT_0);
  CloseHandle(worker);
  EXPECT_TRUE(SUCCEEDED(graph.control->Pause()));  // S_FALSE: the renderer has no sample yet
  FILTER_STATE state = State_Stopped;
  EXPECT_TRUE(SUCCEEDED(source->GetState(0, &state)));
  EXPECT_EQ(state, State_Paused);
  log.Run(graph, false);
  EXPECT_NE(log.thread_id, first);
  EXPECT_EQ(log.priority, THREAD_PRIORITY_NORMAL);
  graph.Stop();
}

// Releases `filter` with the loader lock held, as a host's DllMain does.
struct LockedRelease {
  IBaseFilter* filter;
  ULONG left = 1;
  LONG locked = -1;

  static DWORD WINAPI Run(void* self) {
    auto* call = static_cast<LockedRelease*>(self);
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    const auto lock = reinterpret_cast<LONG(NTAPI*)(ULONG, ULONG*, ULONG_PTR*)>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrLockLoaderLock")));
    const auto unlock = reinterpret_cast<LONG(NTAPI*)(ULONG, ULONG_PTR)>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrUnlockLoaderLock")));
    ULONG_PTR cookie = 0;
    if (!lock || !unlock || (call->locked = lock(0, nullptr, &cookie)) != 0) return 1;
    call->left = call->filter->Release();
    unlock(0, cookie);
    return 0;
  }
};

// A copy of the module, so that this test holds its only reference: the last Release must not
// wait for the kept thread's end (which needs the loader lock), and the thread must still let
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
    ASSERT_EQ(S_OK,
              factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
  }
  ThreadLog log;
  {
    Watchdog dog(120000, "a run of the copy");
    GrabberGraph graph;
    ASSERT_EQ(S_OK, graph.Add(filter, &log));
    ASSERT_EQ(S_OK, graph.ConnectDirect(filter));
    log.Run(graph, false);
    graph.Stop();
    graph.graph->RemoveFilter(filter);
  }
  HANDLE worker = OpenThread(SYNCHRONIZE, FALSE, log.thread_id);
  ASSERT_NE(worker, nullptr);
  ASSERT_EQ(WaitForSingleObject(worker, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "none kept";

  LockedRelease release{filter};
  HANDLE releasing = CreateThread(nullptr, 0, &LockedRelease::Run, &release, 0, nullptr);
  ASSERT_NE(releasing, nullptr);
  if (WaitForSingleObject(releasing, 2000) != WAIT_OBJECT_0) {
    // The lock stays held: even an orderly exit would wait for it.
    std::fprintf(stderr, "FAILED: the last Release under the loader lock did not return\n");
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 1);
  }
  CloseHandle(releasing);
  ASSERT_EQ(release.locked, 0) << "the loader lock could not be taken";
  EXPECT_EQ(release.left, 0u);
  EXPECT_EQ(S_OK, can_unload());
  FreeLibrary(module);
  EXPECT_EQ(WaitForSingleObject(worker, 10000), WAIT_OBJECT_0) << "the worker outlived its filter";
  CloseHandle(worker);
  // The worker's reference was the module's last.
  for (int waited = 0; GetModuleHandleW(copy.c_str()) && waited < 10000; waited += 10) Sleep(10);
  EXPECT_EQ(GetModuleHandleW(copy.c_str()), nullptr) << "the module stays loaded";
  DeleteFileW(copy.c_str());
}

}  // namespace
}  // namespace qp::test
