// qpcap's summary of the source's frame records: late frames sorted by what held them, the
// spreads and the worst frames.
#include "worker_summary.h"

#include <gtest/gtest.h>

namespace qpcap {
namespace {

qp::stream::FrameTimes Frame(uint32_t n, int32_t late, int32_t downstream, int32_t wake) {
  qp::stream::FrameTimes r{};
  r.frame = n;
  r.composeUs = 400;
  r.waitDueUs = 16000;
  r.lateUs = late;
  r.downstreamUs = downstream;
  r.wakeLateUs = wake;
  return r;
}

TEST(WorkerSummary, LateFramesGoToWhatHeldThemMost) {
  std::vector<qp::stream::FrameTimes> records;
  for (uint32_t n = 0; n < 100; ++n) records.push_back(Frame(n, 50, 0, 50));
  records[10] = Frame(10, 40000, 39000, 0);  // the downstream
  records[10].waitBufferUs = 39000;
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

}  // namespace
}  // namespace qpcap
