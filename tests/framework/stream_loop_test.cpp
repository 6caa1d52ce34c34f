// The source stream loop: samples and their stamps across state changes in the platform's
// graph, how a stream ends (by itself, by failing, by a refusing peer), the mailbox while the
// loop runs, stops that land anywhere, and many cycles leaving nothing behind.
#include <windows.h>

#include <evcode.h>
#include <qedit.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <mutex>
#include <random>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "graph_harness.h"
#include "support/fake_downstream_pin.h"

namespace qp::framework::testing {
namespace {

constexpr HRESULT kStreamFailure = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0777);

// The sample grabber's callback: the stamps of every sample that reached it.
class StampRecorder final : public FakeComObject<ISampleGrabberCB> {
 public:
  HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample* sample) override {
    REFERENCE_TIME start = -1, end = -1;
    sample->GetTime(&start, &end);
    std::lock_guard<std::mutex> hold(mutex_);
    stamps_.emplace_back(start, end);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE*, long) override { return E_NOTIMPL; }

  std::vector<std::pair<REFERENCE_TIME, REFERENCE_TIME>> Take() {
    std::lock_guard<std::mutex> hold(mutex_);
    return std::exchange(stamps_, {});
  }
  size_t Count() {
    std::lock_guard<std::mutex> hold(mutex_);
    return stamps_.size();
  }

 private:
  std::mutex mutex_;
  std::vector<std::pair<REFERENCE_TIME, REFERENCE_TIME>> stamps_;
};

// How long a poll for something the stream will do waits before the test fails: many frame
// times even on a slow or fully loaded machine.
constexpr DWORD kPatienceMs = 20000;

// The test source in the platform's graph.
class GraphStream : public GraphFixture {
 protected:
  static bool WaitUntil(const std::function<bool()>& condition) {
    return GraphFixture::WaitUntil(condition, kPatienceMs);
  }
  void TearDown() override {
    if (graph)
      Bounded("tearing the graph down", 2000, [&] {
        graph.reset();
        return 0;
      });
    GraphFixture::TearDown();
  }
  void Build(bool with_grabber, REFERENCE_TIME frame_time) {
    graph = std::make_unique<PlatformGraph>(with_grabber);
    stream = graph->source->stream;
    stream->frame_time = frame_time;
    ASSERT_TRUE(graph->Build());
  }
  HRESULT Run() {
    return Bounded("IMediaControl::Run", 2000, [&] { return graph->Run(); });
  }
  HRESULT Pause() {
    return Bounded("IMediaControl::Pause", 2000, [&] { return graph->Pause(); });
  }
  // The stop's duration in ms, bounded by the watchdog.
  double TimedStop() {
    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&before);
    const HRESULT hr = Bounded("IMediaControl::Stop", 2000, [&] { return graph->Stop(); });
    QueryPerformanceCounter(&after);
    EXPECT_EQ(hr, S_OK);
    return 1000.0 * static_cast<double>(after.QuadPart - before.QuadPart) /
           static_cast<double>(frequency.QuadPart);
  }

  std::unique_ptr<PlatformGraph> graph;
  TestStream* stream = nullptr;
};

TEST_F(GraphStream, SamplesCarryTheFrameCountAcrossRunPauseRunStop) {
  constexpr REFERENCE_TIME kFrame = 5 * kOneMs;
  Build(true, kFrame);
  auto* recorder = new StampRecorder;
  ComPtr<ISampleGrabberCB> recorder_reference = ComPtr<ISampleGrabberCB>::Adopt(recorder);
  ComPtr<ISampleGrabber> grabber;
  ASSERT_EQ(graph->downstream.As(grabber), S_OK);
  ASSERT_EQ(grabber->SetCallback(recorder, 0), S_OK);

  for (int cycle = 0; cycle < 3; ++cycle) {
    ASSERT_EQ(Run(), S_OK);
    ASSERT_TRUE(WaitUntil([&] { return recorder->Count() >= 4; }));
    ASSERT_EQ(Pause(), S_OK);
    ASSERT_EQ(Run(), S_OK);
    ASSERT_TRUE(WaitUntil([&] { return recorder->Count() >= 8; }));
    TimedStop();
    EXPECT_EQ(stream->thread_stops, cycle + 1);

    // Every start from stopped counts from frame 0; pausing does not interrupt the count.
    const auto stamps = recorder->Take();
    for (size_t n = 0; n < stamps.size(); ++n) {
      EXPECT_EQ(stamps[n].first, static_cast<REFERENCE_TIME>(n) * kFrame) << cycle << "/" << n;
      EXPECT_EQ(stamps[n].second, static_cast<REFERENCE_TIME>(n + 1) * kFrame);
    }
  }
  EXPECT_EQ(stream->thread_starts, 3);
  EXPECT_EQ(stream->thread_stops, 3);
  EXPECT_EQ(stream->threads_seen, 1) << "a start after a stop made a new thread";
  ASSERT_EQ(grabber->SetCallback(nullptr, 0), S_OK);
}

TEST_F(GraphStream, FailingStreamAbortsWithItsCodeOnce) {
  Build(false, kOneMs);
  stream->end_after = 3;
  stream->end_result = kStreamFailure;
  ASSERT_EQ(Run(), S_OK);
  LONG_PTR code = 0;
  ASSERT_TRUE(graph->WaitForEvent(EC_ERRORABORT, kPatienceMs, &code));
  EXPECT_EQ(code, kStreamFailure);
  EXPECT_FALSE(graph->WaitForEvent(EC_ERRORABORT, 100));
  EXPECT_EQ(stream->fills, 4);
  EXPECT_TRUE(stream->HasThread());  // the thread waits for the stop
  TimedStop();
  EXPECT_EQ(stream->thread_stops, 1);
}

// Stops while the stream waits for the running state, for a frame's due time, or while the
// renderer holds a sample until its presentation time: each returns before the watchdog. Every
// third round stops a paused stream that waits for the running state and the round after it a
// running one that waits for a frame's due time, so both cases are met whatever the load; the
// other rounds stop at a random moment.
TEST_F(GraphStream, StopAtAnyMomentReturnsPromptly) {
  constexpr REFERENCE_TIME kFrame = 33 * kOneMs;
  Build(false, kFrame);
  std::mt19937 random(20240611);
  double slowest = 0.0;
  for (int round = 0; round < 60; ++round) {
    const bool paused = round % 3 == 0;
    ASSERT_EQ(paused ? Pause() : Run(), S_OK);
    if (paused) {
      ASSERT_TRUE(WaitUntil([&] { return stream->waiting_for_run.load(); })) << round;
    } else if (round % 3 == 1) {
      ASSERT_TRUE(WaitUntil([&] { return stream->waiting_for_due.load(); })) << round;
    } else {
      Sleep(std::uniform_int_distribution<DWORD>(0, 80)(random));
    }
    slowest = std::max(slowest, TimedStop());
    EXPECT_EQ(stream->thread_stops, round + 1) << round;
  }
  EXPECT_EQ(stream->thread_starts, 60);
  EXPECT_EQ(stream->thread_stops, 60);
  EXPECT_GE(stream->fills_ended_by_stop, 20);
  std::printf("slowest of 60 stops: %.1f ms\n", slowest);
}

// Pause/run/stop cycles at a 1 ms frame time: every step bounded, every start served by the
// one kept thread, and afterwards the same objects and (within slack) memory as before. The process's thread count is
// only printed: the platform starts and parks threads of its own.
TEST_F(GraphStream, ThousandCyclesLeaveNothingBehind) {
  Build(false, kOneMs);
  auto cycle = [&] {
    ASSERT_EQ(Pause(), S_OK);
    ASSERT_EQ(Run(), S_OK);
    TimedStop();
  };
  for (int warm = 0; warm < 20; ++warm) cycle();  // the platform's own threads and caches
  const int threads = ProcessThreadCount();
  const LONG objects = ActiveObjectCount();
  const SIZE_T memory = ProcessPrivateBytes();

  constexpr int kCycles = 1000;
  for (int n = 0; n < kCycles && !HasFatalFailure(); ++n) cycle();
  EXPECT_EQ(stream->thread_starts, kCycles + 20);
  EXPECT_EQ(stream->thread_stops, kCycles + 20);
  EXPECT_EQ(stream->threads_seen, 1);
  EXPECT_EQ(ActiveObjectCount(), objects);
  const SIZE_T grown = ProcessPrivateBytes() > memory ? ProcessPrivateBytes() - memory : 0;
  EXPECT_LT(grown, 1u << 20) << grown << " bytes more after " << kCycles << " cycles";
  std::printf("%d cycles: threads %d -> %d, objects %ld -> %ld, private bytes +%zu\n", kCycles,
              threads, ProcessThreadCount(), objects, ActiveObjectCount(),
              static_cast<size_t>(grown));
}

// The test source driven directly, connected to a counting input and joined to a recording
// graph, for exact counts of what reaches the peer and the graph.
class DirectStream : public GraphFixture {
 protected:
  static bool WaitUntil(const std::function<bool()>& condition) {
    return GraphFixture::WaitUntil(condition, kPatienceMs);
  }
  void SetUp() override {
    GraphFixture::SetUp();
    source = new TestSource;
    source_reference = ComPtr<IBaseFilter>(source);
    stream = source->stream;
    input = new FakeDownstreamPin;
    input->holds_connector = false;
    input->offers_allocator = false;
    input_reference = ComPtr<IPin>::Adopt(input);
    events = new RecordingGraph;
    events_reference = ComPtr<IFilterGraph>::Adopt(events);
    ASSERT_EQ(CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IReferenceClock, reinterpret_cast<void**>(&clock)),
              S_OK);
    ASSERT_EQ(source->JoinFilterGraph(events, L"Source"), S_OK);
    ASSERT_EQ(source->SetSyncSource(clock.Get()), S_OK);
    ASSERT_EQ(stream->Connect(input, nullptr), S_OK);
  }
  void TearDown() override {
    EXPECT_EQ(Stop(), S_OK);
    source->JoinFilterGraph(nullptr, nullptr);
    source_reference.Reset();
    clock.Reset();
    GraphFixture::TearDown();
  }
  HRESULT Run() {
    REFERENCE_TIME now = 0;
    clock->GetTime(&now);
    return Bounded("Run", 2000, [&] { return source->Run(now); });
  }
  HRESULT Stop() {
    return Bounded("Stop", 2000, [&] { return source->Stop(); });
  }

  TestSource* source = nullptr;
  ComPtr<IBaseFilter> source_reference;
  TestStream* stream = nullptr;
  FakeDownstreamPin* input = nullptr;
  ComPtr<IPin> input_reference;
  RecordingGraph* events = nullptr;
  ComPtr<IFilterGraph> events_reference;
  ComPtr<IReferenceClock> clock;
};

TEST_F(DirectStream, StreamEndsWithOneEndOfStreamAndAnEventOnlyOnFailure) {
  const struct {
    int end_after;
    HRESULT result;
    size_t events;
  } cases[] = {{0, S_FALSE, 0}, {2, S_FALSE, 0}, {0, kStreamFailure, 1}, {2, E_OUTOFMEMORY, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.end_after << " frames, then " << std::hex << c.result);
    stream->frame_time = kOneMs;
    stream->end_after = c.end_after;
    stream->end_result = c.result;
    input->ends = 0;
    input->receives = 0;
    const size_t events_before = events->Events().size();

    ASSERT_EQ(Run(), S_OK);
    ASSERT_TRUE(WaitUntil([&] { return input->ends > 0; }));
    Sleep(20);  // room for a second end or a stray sample
    EXPECT_EQ(input->ends, 1);
    EXPECT_EQ(input->receives, c.end_after);
    EXPECT_EQ(stream->fills, c.end_after + 1);
    const auto posted = events->Events();
    ASSERT_EQ(posted.size() - events_before, c.events);
    if (c.events) {
      EXPECT_EQ(posted.back().code, EC_ERRORABORT);
      EXPECT_EQ(posted.back().param1, c.result);
      EXPECT_EQ(posted.back().param2, 0);
    }
    EXPECT_EQ(Stop(), S_OK);
    stream->fills = 0;
  }
}

TEST_F(DirectStream, PeerThatRefusesASampleEndsTheLoopWithoutEnd) {
  stream->frame_time = kOneMs;
  input->receive_result = S_FALSE;
  ASSERT_EQ(Run(), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return input->receives > 0; }));
  Sleep(20);
  EXPECT_EQ(input->receives, 1);
  EXPECT_EQ(input->ends, 0);
  EXPECT_EQ(stream->fills, 1);
  EXPECT_TRUE(events->Events().empty());

  // Only a new start produces again.
  EXPECT_EQ(Stop(), S_OK);
  input->receive_result = S_OK;
  ASSERT_EQ(Run(), S_OK);
  EXPECT_TRUE(WaitUntil([&] { return input->receives > 5; }));
}

TEST_F(DirectStream, StopWhileWaitingForTheFrameTimeEndsTheStreamFirst) {
  stream->frame_time = 10'000 * kOneMs;
  ASSERT_EQ(Run(), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return input->receives == 1 && stream->waiting_for_due; }));
  EXPECT_EQ(Stop(), S_OK);
  // The fill saw the stop, and its end-of-stream went out before the stream was shut down.
  EXPECT_EQ(stream->fills_ended_by_stop, 1);
  EXPECT_EQ(input->ends, 1);
  EXPECT_EQ(input->samples_after_end, 0);
  EXPECT_EQ(stream->thread_stops, 1);
}

// The control side's order: FilterLock, then the mailbox. The worker never waits for the
// FilterLock, so it produces and answers while a control thread holds it.
TEST_F(DirectStream, WorkerNeverWaitsForTheFilterLock) {
  stream->frame_time = kOneMs;
  ASSERT_EQ(Run(), S_OK);
  ScopedLock hold(source->FilterLock());
  const int received = input->receives;
  EXPECT_TRUE(WaitUntil([&] { return input->receives > received + 5; }));
  EXPECT_EQ(Bounded("SendCommand", 2000, [&] { return stream->SendCommand(CommandRun); }), S_OK);
  EXPECT_EQ(Stop(), S_OK);
}

TEST_F(DirectStream, MailboxWhileTheLoopRunsAndAfterItEnded) {
  stream->frame_time = 2 * kOneMs;
  ASSERT_EQ(Run(), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return input->receives > 2; }));
  auto send = [&](StreamCommand command) {
    return Bounded("SendCommand", 2000, [&] { return stream->SendCommand(command); });
  };
  // Answered between samples; a change of state does not interrupt production.
  EXPECT_EQ(send(CommandPause), S_OK);
  EXPECT_EQ(send(CommandRun), S_OK);
  EXPECT_EQ(send(CommandInit), E_UNEXPECTED);
  EXPECT_EQ(send(static_cast<StreamCommand>(9)), E_UNEXPECTED);
  const int received = input->receives;
  EXPECT_TRUE(WaitUntil([&] { return input->receives > received + 2; }));

  // The loop ends on a refused sample; the thread then waits for commands.
  input->receive_result = S_FALSE;
  const int before = input->receives;
  ASSERT_TRUE(WaitUntil([&] { return input->receives > before; }));
  Sleep(20);
  const int fills = stream->fills;
  EXPECT_EQ(send(CommandInit), E_NOTIMPL);
  EXPECT_EQ(send(static_cast<StreamCommand>(9)), E_NOTIMPL);
  EXPECT_EQ(stream->fills, fills);
  // A run command starts a new loop, which the refusing peer ends after one sample.
  EXPECT_EQ(send(CommandRun), S_OK);
  EXPECT_TRUE(WaitUntil([&] { return stream->fills == fills + 1; }));
  EXPECT_EQ(input->ends, 0);
}

}  // namespace
}  // namespace qp::framework::testing
