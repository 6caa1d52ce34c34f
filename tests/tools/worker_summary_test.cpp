// qpcap's summary of the source's frame records: late frames sorted by what held them, the
// spreads and the worst frames.
#include "worker_summary.h"

#include <gtest/gtest.h>

namespace qpcap {
namespace {

qp::FrameTimes Frame(uint32_t n, int32_t late, int32_t downstream, int32_t wake) {
  qp::FrameTimes r{};
  r.frame = n;
  r.compose_us = 400;
  r.wait_due_us = 16000;
  r.late_us = late;
  r.downstream_us = downstream;
  r.wake_late_us = wake;
  r.worker_cpu_ms = -1;
  return r;
}

TEST(WorkerSummary, LateFramesGoToWhatHeldThemMost) {
  std::vector<qp::FrameTimes> records;
  for (uint32_t n = 0; n < 100; ++n) records.push_back(Frame(n, 50, 0, 50));
  records[10] = Frame(10, 40000, 39000, 0);  // the downstream
  records[10].wait_buffer_us = 39000;
  records[20] = Frame(20, 30000, 0, 29000);  // a late wake-up
  records[30] = Frame(30, 20000, 1000, 0);   // composing
  records[40] = Frame(40, 10000, 0, 0);      // late, but less than a frame time

  const WorkerSummary s = SummarizeWorker(records, 16.667, 3);
  EXPECT_EQ(s.frames, 100);
  EXPECT_EQ(s.late_by_downstream, 1);
  EXPECT_EQ(s.late_by_wake, 1);
  EXPECT_EQ(s.late_by_compose, 1);
  EXPECT_NEAR(s.late.median, 0.05, 1e-9);
  EXPECT_NEAR(s.late.max, 40.0, 1e-9);
  EXPECT_NEAR(s.source_late.max, 30.0, 1e-9);
  EXPECT_NEAR(s.compose_ms, 0.4, 1e-9);
  ASSERT_EQ(s.worst.size(), 3u);
  EXPECT_EQ(s.worst[0].frame, 10u);
  EXPECT_NEAR(s.worst[0].buffer_ms, 39.0, 1e-9);
  EXPECT_EQ(s.worst[1].frame, 20u);
  EXPECT_EQ(s.worst[2].frame, 30u);

  EXPECT_EQ(SummarizeWorker({}, 16.667, 3).frames, 0);
}

// A 100 ms stall while composing, its frame and the ones catching up after it late. The worker's
// processor time, read every 60 frames, tells whether it ran through the stall.
std::vector<qp::FrameTimes> StallAt(uint32_t stall, double cpu_per_window_ms) {
  std::vector<qp::FrameTimes> records;
  for (uint32_t n = 0; n < 300; ++n) records.push_back(Frame(n, 50, 0, 50));
  records[stall].compose_us = 100400;
  for (uint32_t k = 0; k < 6; ++k) records[stall + k].late_us = 100000 - int32_t(k) * 15000;
  for (uint32_t n = 0; n < 300; n += 60) records[n].worker_cpu_ms = int32_t(n / 60 * 40);
  const uint32_t after = stall / 60 * 60 + 60;
  if (after < records.size())
    records[after].worker_cpu_ms = records[after - 60].worker_cpu_ms + int32_t(cpu_per_window_ms);
  return records;
}

TEST(WorkerSummary, AStallWhileComposingIsTheSystemsWhenTheWorkerHadNoProcessor) {
  // 60 frames of 0.4 ms composing and the stall: 124 ms of composing wall time.
  WorkerSummary s = SummarizeWorker(StallAt(130, 40), 16.667, 1);
  EXPECT_EQ(s.late_by_no_processor, 6) << "the stall and the frames catching up";
  EXPECT_EQ(s.late_by_compose, 0);
  ASSERT_EQ(s.worst.size(), 1u);
  EXPECT_EQ(s.worst[0].frame, 130u);
  EXPECT_NEAR(s.worst[0].no_processor_ms, 124.0 - 40.0 - 16.0, 0.5);

  // The worker was running through it: the source's own.
  s = SummarizeWorker(StallAt(130, 130), 16.667, 1);
  EXPECT_EQ(s.late_by_no_processor, 0);
  EXPECT_EQ(s.late_by_compose, 6);

  // No reading after the stall: nothing proves it, so it stays the source's.
  s = SummarizeWorker(StallAt(250, 40), 16.667, 1);
  EXPECT_EQ(s.late_by_no_processor, 0);
  EXPECT_EQ(s.late_by_compose, 6);
  EXPECT_LT(s.worst[0].no_processor_ms, 0);
}

}  // namespace
}  // namespace qpcap
