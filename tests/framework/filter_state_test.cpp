// The filter's state changes and graph membership: states that start no thread, pins that fail
// to start, a filter let go while it runs, pin ids, and what the graph is told.
#include <windows.h>

#include <evcode.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <string>

#include <gtest/gtest.h>

#include "graph_harness.h"
#include "support/fake_downstream_pin.h"

namespace qp::framework::testing {
namespace {

class FilterState : public GraphFixture {
 protected:
  void SetUp() override {
    GraphFixture::SetUp();
    source = new TestSource(2);
    source_reference = ComPtr<IBaseFilter>(source);
    ASSERT_EQ(source->construction, S_OK);
  }
  void TearDown() override {
    source_reference.Reset();
    GraphFixture::TearDown();
  }
  // Connects stream `index` to a counting input of its own.
  void Connect(int index) {
    inputs[index] = new FakeDownstreamPin;
    inputs[index]->holds_connector = false;
    inputs[index]->offers_allocator = false;
    input_references[index] = ComPtr<IPin>::Adopt(inputs[index]);
    ASSERT_EQ(source->streams[index]->Connect(inputs[index], nullptr), S_OK);
  }
  FILTER_STATE State() {
    FILTER_STATE state;
    EXPECT_TRUE(SUCCEEDED(source->GetState(0, &state)));
    return state;
  }

  TestSource* source = nullptr;
  ComPtr<IBaseFilter> source_reference;
  FakeDownstreamPin* inputs[2] = {};
  ComPtr<IPin> input_references[2];
};

TEST_F(FilterState, UnconnectedStreamsStartNoThread) {
  EXPECT_EQ(source->Pause(), S_OK);
  EXPECT_EQ(State(), State_Paused);
  EXPECT_EQ(source->Run(0), S_OK);
  EXPECT_EQ(State(), State_Running);
  for (TestStream* stream : source->streams) {
    EXPECT_FALSE(stream->HasThread());
    EXPECT_EQ(stream->thread_starts, 0);
  }
  // A stream asked to start inside a started filter does nothing.
  EXPECT_EQ(source->stream->Activate(), S_FALSE);
  EXPECT_EQ(source->Stop(), S_OK);
  EXPECT_EQ(source->Stop(), S_OK);
  EXPECT_EQ(State(), State_Stopped);
}

TEST_F(FilterState, StreamThatFailsToStartUndoesTheOthersAndCanStartLater) {
  Connect(0);
  Connect(1);
  TestStream* first = source->streams[0];
  TestStream* second = source->streams[1];
  second->start_result = E_ACCESSDENIED;

  EXPECT_EQ(Bounded("Pause", 2000, [&] { return source->Pause(); }), E_ACCESSDENIED);
  EXPECT_EQ(State(), State_Stopped);
  // The first stream started and was stopped again; the second ran its shut-down too.
  EXPECT_EQ(first->thread_starts, 1);
  EXPECT_EQ(first->thread_stops, 1);
  EXPECT_EQ(second->thread_stops, 1);
  EXPECT_EQ(Bounded("Run", 2000, [&] { return source->Run(0); }), E_ACCESSDENIED);
  EXPECT_EQ(State(), State_Stopped);

  // Nothing of the failed attempts stays held: both streams start once the cause is gone.
  second->start_result = S_OK;
  EXPECT_EQ(Bounded("Pause", 2000, [&] { return source->Pause(); }), S_OK);
  EXPECT_TRUE(first->HasThread());
  EXPECT_TRUE(second->HasThread());
  EXPECT_EQ(Bounded("Stop", 2000, [&] { return source->Stop(); }), S_OK);
  EXPECT_EQ(first->thread_stops, first->thread_starts.load());
  EXPECT_EQ(second->thread_stops, second->thread_starts.load());
}

// A stopped stream keeps its thread for the next start; letting the filter go ends it.
TEST_F(FilterState, FilterLetGoWhileStoppedEndsTheKeptThread) {
  Connect(0);
  ASSERT_EQ(source->Run(0), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return inputs[0]->receives > 2; }, 20000));
  ASSERT_EQ(Bounded("Stop", 2000, [&] { return source->Stop(); }), S_OK);
  HANDLE worker = OpenThread(SYNCHRONIZE, FALSE, source->streams[0]->worker_id);
  ASSERT_NE(worker, nullptr) << "no thread kept";
  EXPECT_EQ(WaitForSingleObject(worker, 0), static_cast<DWORD>(WAIT_TIMEOUT));

  Bounded("the last Release", 2000, [&] {
    source_reference.Reset();
    return 0;
  });
  // It ends by itself: the Release waits for its answer, not for its end.
  EXPECT_EQ(WaitForSingleObject(worker, 10000), WAIT_OBJECT_0) << "the worker outlived its filter";
  CloseHandle(worker);
}

// A downstream that ended the worker's COM apartment in one run: the thread cannot be made as
// new again, so the next start replaces it, and starts as usual.
TEST_F(FilterState, KeptThreadThatCannotBeRestoredIsReplaced) {
  Connect(0);
  TestStream* stream = source->streams[0];
  std::atomic<bool> left{false};
  inputs[0]->on_receive = [&] {
    if (!left.exchange(true)) CoUninitialize();
  };
  ASSERT_EQ(source->Run(0), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return left.load(); }, 20000));
  ASSERT_EQ(Bounded("Stop", 2000, [&] { return source->Stop(); }), S_OK);
  const DWORD first = stream->worker_id;
  inputs[0]->on_receive = nullptr;

  EXPECT_EQ(Bounded("Pause", 2000, [&] { return source->Pause(); }), S_OK);
  EXPECT_NE(stream->worker_id, first);
  EXPECT_EQ(stream->threads_seen, 2);
  EXPECT_EQ(stream->thread_starts, 2);
  ASSERT_EQ(Bounded("Stop", 2000, [&] { return source->Stop(); }), S_OK);
  HANDLE replaced = OpenThread(SYNCHRONIZE, FALSE, first);
  if (replaced) {
    EXPECT_EQ(WaitForSingleObject(replaced, 10000), WAIT_OBJECT_0) << "the replaced thread stays";
    CloseHandle(replaced);
  }
}

// The threads are seen through what they deliver: the process's thread count also moves with
// the platform's own threads.
TEST_F(FilterState, FilterLetGoWhileRunningEndsItsThreads) {
  Connect(0);
  Connect(1);
  ASSERT_EQ(source->Run(0), S_OK);  // no clock: the streams produce as fast as they can
  EXPECT_TRUE(source->streams[0]->HasThread());
  EXPECT_TRUE(source->streams[1]->HasThread());
  ASSERT_TRUE(
      WaitUntil([&] { return inputs[0]->receives > 10 && inputs[1]->receives > 10; }, 20000));

  Bounded("the last Release", 2000, [&] {
    source_reference.Reset();
    return 0;
  });
  EXPECT_EQ(source_reference.Get(), nullptr);
  // Ended threads deliver nothing more; a thread left running would go on (or crash).
  const int received[2] = {inputs[0]->receives, inputs[1]->receives};
  Sleep(50);
  EXPECT_EQ(inputs[0]->receives, received[0]);
  EXPECT_EQ(inputs[1]->receives, received[1]);
}

TEST_F(FilterState, PinIdsMapToPins) {
  ComPtr<IPin> second(source->streams[1]);
  LPWSTR id = nullptr;
  ASSERT_EQ(second->QueryId(&id), S_OK);
  EXPECT_STREQ(id, L"2");
  ComPtr<IPin> found;
  EXPECT_EQ(source->FindPin(id, &found), S_OK);
  EXPECT_EQ(found.Get(), second.Get());
  CoTaskMemFree(id);

  EXPECT_EQ(source->FindPin(L"1", &found), S_OK);
  EXPECT_EQ(found.Get(), static_cast<IPin*>(source->stream));
  for (const wchar_t* unknown : {L"0", L"", L"x", L"3", L"-1"}) {
    IPin* pin = reinterpret_cast<IPin*>(1);
    EXPECT_EQ(source->FindPin(unknown, &pin), VFW_E_NOT_FOUND) << unknown;
    EXPECT_EQ(pin, nullptr) << unknown;
  }
}

TEST_F(FilterState, GraphMembershipAndEvents) {
  auto* graph = new RecordingGraph;
  ComPtr<IFilterGraph> graph_reference = ComPtr<IFilterGraph>::Adopt(graph);
  const std::wstring long_name(200, L'n');
  ASSERT_EQ(source->JoinFilterGraph(graph, long_name.c_str()), S_OK);
  EXPECT_EQ(graph->References(), 1);  // neither the graph nor its event sink is counted

  FILTER_INFO info;
  ASSERT_EQ(source->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(std::wstring(info.achName), long_name.substr(0, 127));
  EXPECT_EQ(info.pGraph, graph);
  info.pGraph->Release();

  // EC_COMPLETE names the filter that completed, whatever the caller passed.
  EXPECT_EQ(source->PostEvent(EC_COMPLETE, 5, 1234), S_OK);
  EXPECT_EQ(source->PostEvent(EC_ERRORABORT, E_FAIL, 77), S_OK);
  const auto events = graph->Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].code, EC_COMPLETE);
  EXPECT_EQ(events[0].param1, 5);
  EXPECT_EQ(events[0].param2, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(source)));
  EXPECT_EQ(events[1].param2, 77);

  ASSERT_EQ(source->JoinFilterGraph(nullptr, nullptr), S_OK);
  EXPECT_EQ(source->PostEvent(EC_COMPLETE, 0, 0), E_NOTIMPL);
  ASSERT_EQ(source->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(info.achName[0], L'\0');
  EXPECT_EQ(info.pGraph, nullptr);
  EXPECT_EQ(graph->Events().size(), 2u);
}

TEST_F(FilterState, ClockAndStreamTime) {
  REFERENCE_TIME time = 0;
  EXPECT_EQ(source->GetStreamTime(time), VFW_E_NO_CLOCK);

  ComPtr<IReferenceClock> clock;
  ASSERT_EQ(CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock,
                             reinterpret_cast<void**>(&clock)),
            S_OK);
  const ULONG references = ReferencesOf(clock.Get());
  ASSERT_EQ(source->SetSyncSource(clock.Get()), S_OK);
  EXPECT_EQ(ReferencesOf(clock.Get()), references + 1);
  ComPtr<IReferenceClock> held;
  ASSERT_EQ(source->GetSyncSource(&held), S_OK);
  EXPECT_EQ(held.Get(), clock.Get());
  held.Reset();

  REFERENCE_TIME now = 0;
  ASSERT_EQ(clock->GetTime(&now), S_OK);
  ASSERT_EQ(source->Run(now - 1000 * kOneMs), S_OK);
  ASSERT_EQ(source->GetStreamTime(time), S_OK);
  EXPECT_GE(time, 1000 * kOneMs);
  EXPECT_LT(time, 2000 * kOneMs);
  EXPECT_EQ(source->Stop(), S_OK);

  ASSERT_EQ(source->SetSyncSource(nullptr), S_OK);
  EXPECT_EQ(ReferencesOf(clock.Get()), references);
  EXPECT_EQ(source->GetStreamTime(time), VFW_E_NO_CLOCK);
}

TEST_F(FilterState, IdentityAndSetup) {
  ComPtr<IAMovieSetup> setup;
  ASSERT_EQ(source_reference.As(setup), S_OK);
  EXPECT_EQ(setup->Register(), S_FALSE);  // the module registers its filters itself
  EXPECT_EQ(setup->Unregister(), S_FALSE);
  ComPtr<IMediaFilter> media_filter;
  ASSERT_EQ(source_reference.As(media_filter), S_OK);
  EXPECT_EQ(static_cast<IUnknown*>(media_filter.Get()),
            static_cast<IUnknown*>(source_reference.Get()));
  EXPECT_EQ(source->GetState(0, nullptr), E_POINTER);
}

}  // namespace
}  // namespace qp::framework::testing
