// The judgments of qpcap's measurement: continuity breaks and the spread figures it prints.
#include "frame_statistics.h"

#include <gtest/gtest.h>

namespace qpcap {
namespace {

constexpr int64_t kTicksPerMs = 10000;  // A 10 MHz counter.

std::vector<FrameRecord> SteadyFrames(int count, int64_t frame_time) {
  std::vector<FrameRecord> frames(count);
  for (int i = 0; i < count; ++i)
    frames[i] = {true, i * frame_time, (i + 1) * frame_time, i * frame_time,
                 i * frame_time + 20000};
  return frames;
}

TEST(FrameStatistics, SteadyStreamIsContinuous) {
  const auto stats = ComputeStatistics(SteadyFrames(30, 333667), kTicksPerMs * 1000);
  EXPECT_TRUE(stats.Continuous());
  EXPECT_EQ(stats.frames, 30);
  EXPECT_DOUBLE_EQ(stats.stream_seconds, 30 * 333667 / 1e7);
  EXPECT_NEAR(stats.interval.median, 33.3667, 1e-9);
  EXPECT_NEAR(stats.interval.max, 33.3667, 1e-9);
  EXPECT_NEAR(stats.lateness.median, 2.0, 1e-9);
}

TEST(FrameStatistics, GapsOverlapsAndMissingStampsBreakContinuity) {
  auto frames = SteadyFrames(10, 400000);
  frames[4].start += 400000;  // A skipped frame time.
  frames[7].start -= 1;       // Overlaps its predecessor by 100 ns.
  auto stats = ComputeStatistics(frames, kTicksPerMs * 1000);
  EXPECT_FALSE(stats.Continuous());
  EXPECT_EQ(stats.breaks, 2);
  EXPECT_EQ(stats.first_break, 4);

  frames = SteadyFrames(5, 400000);
  frames[2].stamped = false;  // Continuity is judged across it, from frame 1 to frame 3.
  frames[3].start = frames[1].stop;
  stats = ComputeStatistics(frames, kTicksPerMs * 1000);
  EXPECT_EQ(stats.unstamped, 1);
  EXPECT_EQ(stats.breaks, 0);
  EXPECT_FALSE(stats.Continuous());
  EXPECT_FALSE(ComputeStatistics({}, 1000).Continuous());
}

TEST(FrameStatistics, SpreadUsesArrivalsNotStamps) {
  auto frames = SteadyFrames(101, 400000);
  // One arrival 50 ms late: two intervals change (90 ms and -10 ms), the stamps do not.
  frames[50].arrival_ticks += 50 * kTicksPerMs;
  frames[50].stream_time += 500000;
  const auto stats = ComputeStatistics(frames, kTicksPerMs * 1000);
  EXPECT_TRUE(stats.Continuous());
  EXPECT_NEAR(stats.interval.max, 90.0, 1e-9);
  EXPECT_NEAR(stats.interval.min, -10.0, 1e-9);
  EXPECT_NEAR(stats.interval.median, 40.0, 1e-9);
  EXPECT_NEAR(stats.lateness.max, 52.0, 1e-9);
}

TEST(FrameStatistics, PercentileInterpolatesBetweenRanks) {
  EXPECT_DOUBLE_EQ(Percentile({1, 2, 3, 4}, 0.5), 2.5);
  EXPECT_DOUBLE_EQ(Percentile({7}, 0.99), 7);
  std::vector<double> hundred;
  for (int i = 1; i <= 100; ++i) hundred.push_back(i);
  EXPECT_DOUBLE_EQ(Percentile(hundred, 0.99), 99.01);
  EXPECT_DOUBLE_EQ(Percentile(hundred, 1.0), 100);
}

}  // namespace
}  // namespace qpcap
