// The stream tests' source filter (one scripted stream inside the real SourceFilterBase), a
// graph of the platform's filters around it and a graph that records events.
#pragma once

#include <windows.h>

#include <control.h>
#include <strmif.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/windows/com_ptr.h"
#include "support/fake_com.h"
#include "framework/source_filter_base.h"
#include "framework/stream_pin_base.h"
#include "support/watchdog.h"

namespace qp::framework::testing {

constexpr REFERENCE_TIME kOneMs = 10'000;  // 100 ns units

using qp::test::Watchdog;

// A paced stream of blank RGB32 64 × 48 frames stamped [n·FT, (n+1)·FT) on the graph's stream
// time, the way a live source paces itself: it waits for the running state and for each
// frame's due time, and gives up (S_FALSE) when it sees CommandStop posted.
class TestStream final : public StreamPinBase {
 public:
  // Deleted only by its filter, which stops it first.
  TestStream(HRESULT* result, SourceFilterBase* filter);

  // Script; set while the filter is stopped.
  REFERENCE_TIME frame_time = 10 * kOneMs;
  HRESULT start_result = S_OK;  // OnThreadStart's answer
  int end_after = -1;           // when >= 0, frames filled before `end_result`
  HRESULT end_result = S_FALSE;

  // What the worker did; read by the test thread.
  std::atomic<int> thread_starts{0};
  std::atomic<int> thread_stops{0};
  std::atomic<int> threads_seen{0};  // starts on a thread other than the previous start's
  std::atomic<DWORD> worker_id{0};   // the latest start's thread
  std::atomic<int> fills{0};         // FillSample calls
  std::atomic<int> fills_ended_by_stop{0};
  std::atomic<bool> waiting_for_run{false};
  std::atomic<bool> waiting_for_due{false};

  using WorkerThread::HasThread;
  using WorkerThread::SendCommand;

  HRESULT FillSample(IMediaSample* sample) override;
  HRESULT OnThreadStart() override;
  HRESULT OnThreadStop() override;
  HRESULT SizeBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

 protected:
  HRESULT GetSingleType(MediaType* type) override;

 private:
  bool StopPosted();
  int frame_ = 0;  // worker thread
};

// A live source of `stream_count` TestStreams, its GetState answering VFW_S_CANT_CUE while
// paused so that a graph does not wait for its renderers to cue before it runs.
class TestSource final : public SourceFilterBase {
 public:
  explicit TestSource(int stream_count = 1);
  HRESULT STDMETHODCALLTYPE GetState(DWORD timeout_ms, FILTER_STATE* state) override;

  std::vector<TestStream*> streams;  // owned by the filter
  TestStream* stream = nullptr;      // the first
  HRESULT construction = S_OK;
};

// A graph that is only an event sink, recording what it is told.
class RecordingGraph final : public FakeComObject<IFilterGraph, IMediaEventSink> {
 public:
  struct Event {
    long code;
    LONG_PTR param1;
    LONG_PTR param2;
  };
  std::vector<Event> Events();

  // IFilterGraph
  HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Reconnect(IPin*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Disconnect(IPin*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() override { return E_NOTIMPL; }

  // IMediaEventSink
  HRESULT STDMETHODCALLTYPE Notify(long code, LONG_PTR param1, LONG_PTR param2) override;

 private:
  std::mutex mutex_;
  std::vector<Event> events_;
};

// The platform's filter graph with the test source connected straight to the platform's
// sample grabber (`with_grabber`) or null renderer, driven through IMediaControl.
class PlatformGraph {
 public:
  explicit PlatformGraph(bool with_grabber);
  ~PlatformGraph();

  // False (and a test failure) when a platform filter is missing or the pins do not connect.
  bool Build();
  // Waits for the transition to finish; the state change's result.
  HRESULT Run();
  HRESULT Pause();
  HRESULT Stop();
  // The next event with `code` within `limit_ms`, skipping others; false if none came.
  bool WaitForEvent(long code, DWORD limit_ms, LONG_PTR* param1 = nullptr);

  TestSource* source = nullptr;  // owned by `source_reference`
  ComPtr<IBaseFilter> source_reference;
  ComPtr<IGraphBuilder> graph;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEvent> events;
  ComPtr<IBaseFilter> downstream;

 private:
  HRESULT Settle(HRESULT hr);
  bool with_grabber_;
};

// COM for the test thread, a watchdog, and the check that every object of ours is gone.
class GraphFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Polls `condition` every ms for up to `limit_ms`.
  static bool WaitUntil(const std::function<bool()>& condition, DWORD limit_ms = 2000);
  // Runs `call` with the watchdog armed for `limit_ms`.
  template <typename Call>
  auto Bounded(const char* what, DWORD limit_ms, Call call) {
    watchdog.Arm(what, limit_ms);
    auto result = call();
    watchdog.Disarm();
    return result;
  }

  Watchdog watchdog;
  LONG objects_before = 0;
};

// Threads of this process now.
int ProcessThreadCount();
// The process's committed private memory, bytes.
SIZE_T ProcessPrivateBytes();

}  // namespace qp::framework::testing
