// The filter's private statistics interface in a real graph: a record of every delivered frame
// in order, totals that add up with them, the start-up's parts, and the picture cache at the
// next start of the same graph. Orders and sums only: figures are scripts/bench's job.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "capture/capture_graph_test.h"
#include "interface/stream_statistics.h"
#include "stream/worker_counters.h"

namespace qp::test {
namespace {

class StatisticsGraphTest : public CaptureGraphTest {
 protected:
  void SetUp() override {
    CaptureGraphTest::SetUp();
    PlacePictures(320, 240);
    files_.Ini(OnePresetIni(320, 240, "YUY2", "frame_time=200000\n"));
  }
};

std::vector<FrameTimes> AllFrames(IStreamStatistics* statistics) {
  std::vector<FrameTimes> records(stream::WorkerCounters::kCapacity);
  uint32_t count = 0;
  uint64_t from = 99;
  EXPECT_EQ(S_OK,
            statistics->GetFrames(0, uint32_t(records.size()), records.data(), &count, &from));
  EXPECT_EQ(from, 0u);
  records.resize(count);
  return records;
}

TEST_F(StatisticsGraphTest, EveryFrameIsRecordedAndARestartTakesTheCachedPictures) {
  ComPtr<IBaseFilter> source;
  SampleLog log;
  GrabberGraph graph;
  ASSERT_NO_FATAL_FAILURE(Connect(source, graph, log));

  IStreamStatistics* statistics = nullptr;
  ASSERT_EQ(S_OK,
            source->QueryInterface(kStreamStatisticsId, reinterpret_cast<void**>(&statistics)));
  ComPtr<IUnknown> held(statistics);  // released at the end
  FrameTimes one{};
  uint32_t count = 0;
  uint64_t from = 0;
  EXPECT_EQ(E_POINTER, statistics->GetTotals(nullptr));
  EXPECT_EQ(E_POINTER, statistics->GetFrames(0, 1, nullptr, &count, &from));
  EXPECT_EQ(E_POINTER, statistics->GetFrames(0, 1, &one, nullptr, &from));
  EXPECT_EQ(E_POINTER, statistics->GetFrames(0, 1, &one, &count, nullptr));

  Watchdog dog(120000, "two short runs");
  ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
  ASSERT_TRUE(log.WaitFor(20, 60000));
  graph.control->Stop();

  StreamTotals totals{};
  ASSERT_EQ(S_OK, statistics->GetTotals(&totals));
  EXPECT_GE(totals.frames, 20u);
  EXPECT_LE(totals.frames, log.Count());
  const std::vector<FrameTimes> records = AllFrames(statistics);
  ASSERT_EQ(records.size(), totals.frames);
  int64_t compose = 0, wait_due = 0, accounted = 0;
  for (uint32_t n = 0; n < records.size(); ++n) {
    EXPECT_EQ(records[n].frame, n);
    EXPECT_GE(records[n].late_us, 0) << n;
    EXPECT_GE(records[n].downstream_us, 0) << n;
    EXPECT_LE(records[n].downstream_us, records[n].late_us) << n;
    EXPECT_GE(records[n].compose_us, 0) << n;
    compose += records[n].compose_us;
    wait_due += records[n].wait_due_us;
    if (n > 0)
      accounted += records[n].wait_buffer_us + records[n].compose_us + records[n].wait_due_us +
                   records[n].deliver_us;
  }
  EXPECT_EQ(totals.compose_us, compose);
  EXPECT_EQ(totals.wait_due_us, wait_due);
  // Frame n leaves no sooner than n frame times after frame 0, and the four parts cover the
  // worker's time between them (the renderer's wait for the clock is part of delivering).
  EXPECT_GT(accounted, int64_t(records.size() - 2) * 20000 * 9 / 10);

  const StartupTimes& first = totals.startup;
  EXPECT_GE(first.commit_us, 0);
  EXPECT_GE(first.thread_us, 0);
  EXPECT_GE(first.init_us, first.background_us);
  EXPECT_GE(first.activate_us, first.init_us);
  EXPECT_GE(first.background_us, 0);
  EXPECT_GE(first.glyphs_us, 0);
  EXPECT_NE(totals.run_called_at, 0);
  EXPECT_GE(totals.run_seen_at, totals.run_called_at);
  EXPECT_GE(totals.first_stamped_at, totals.run_seen_at);
  EXPECT_GE(totals.worker_cpu100ns, -1);

  const size_t before = log.Count();
  ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
  ASSERT_TRUE(log.WaitFor(before + 5, 60000));
  graph.control->Stop();
  ASSERT_EQ(S_OK, statistics->GetTotals(&totals));
  EXPECT_EQ(totals.startup.background_cached, 1);
  EXPECT_EQ(totals.startup.glyphs_cached, 1);
  EXPECT_GE(totals.frames, 5u);
  EXPECT_LE(totals.frames, log.Count() - before) << "counted from the new start";
  EXPECT_EQ(AllFrames(statistics).front().frame, 0u);
  graph.Stop();
}

}  // namespace
}  // namespace qp::test
