// The wait for the due time on Windows' timer, simulated: waits with a timeout end on the
// timer's grid (a high-resolution timer's 0.5 ms, a raised resolution's 1 ms, the default
// 15.625 ms, or late by up to a period at random), and on the graph's clock, which counts whole
// ms. Every figure is simulated time; each case prints its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "support/stream_test_doubles.h"

namespace qp::stream::test {
namespace {

constexpr char kSixty[] = "w=96\nh=60\nfcc=YUY2\nframe_time=166667\n";
constexpr double kSixtyMs = 16.6667;
constexpr int kFrames = 600;  // 10 s of stream

struct Grid {
  const char* key;  // the case's name
  const char* name;
  int64_t sleep_us;  // the fine timer's grid
  int64_t wait_us;   // the mailbox's
  bool random;
  std::optional<StreamEnvironment::TimerGrain> promised;
  bool punctual;  // the median must be within 0.3 ms
};

void PrintTo(const Grid& grid, std::ostream* out) { *out << grid.name; }

class TimerGrid : public ::testing::TestWithParam<Grid> {};

// Frames leave within 0.3 ms of their due time (median) where the timer allows it, never a
// frame time late, and the busy wait costs less than 2 ms a frame on every grid.
TEST_P(TimerGrid, FramesLeaveOnTimeWithoutBurningACore) {
  const Grid& grid = GetParam();
  StreamRig rig(kSixty);
  rig.env.sleep_grid_us = grid.sleep_us;
  rig.env.wait_grid_us = grid.wait_us;
  rig.env.random_late = grid.random;
  rig.env.promised = grid.promised;
  rig.services.fine_command_wait = true;
  rig.Start();
  FakeSample sample(96 * 60 * 2, &rig.env);
  const double origin = rig.env.NowMs();
  static_cast<framework::PinBase&>(*rig.pin).OnRun(0);

  std::vector<double> late;
  const int64_t spun_before = rig.env.spun_us;
  for (int n = 0; n < kFrames; ++n) {
    ASSERT_EQ(rig.pin->FillSample(&sample), S_OK) << n;
    late.push_back(sample.stamped_at_ms - (origin + n * kSixtyMs));
  }
  const double spin_per_frame_ms =
      static_cast<double>(rig.env.spun_us - spun_before) / 1000.0 / kFrames;
  std::sort(late.begin(), late.end());
  const double median = late[late.size() / 2];
  std::printf(
      "[ figures  ] %s: lateness median %.3f ms, max %.3f ms, min %.3f ms; spin %.3f ms "
      "a frame; drops %d\n",
      grid.name, median, late.back(), late.front(), spin_per_frame_ms, rig.pin->drop_count());
  EXPECT_GE(late.front(), 0.0) << "a frame left before its due time";
  EXPECT_LT(late.back(), kSixtyMs);
  EXPECT_LT(spin_per_frame_ms, 2.0);
  EXPECT_EQ(rig.pin->drop_count(), 0);
  if (grid.punctual) {
    EXPECT_LT(median, 0.3);
  }
}

constexpr StreamEnvironment::TimerGrain kRaised{1000, 1000};

INSTANTIATE_TEST_SUITE_P(
    Windows, TimerGrid,
    ::testing::Values(
        // The mailbox keeps to the system's default period; only the timer is fine.
        Grid{"HighResolution", "high-resolution timer 0.5 ms", 500, 15625, false, std::nullopt,
             true},
        Grid{"Raised", "raised resolution 1 ms", 1000, 1000, false, std::nullopt, true},
        Grid{"Random", "up to 1 ms late at random", 1000, 1000, true, std::nullopt, true},
        Grid{"Default", "default 15.625 ms", 15625, 15625, false, std::nullopt, false},
        // A system that grants less than it promised: learnt from the overruns.
        Grid{"CoarserThanPromised", "15.625 ms where 1 ms was promised", 15625, 15625, false,
             kRaised, false}),
    [](const ::testing::TestParamInfo<Grid>& info) { return std::string(info.param.key); });

// The graph's clock reads whole ms: a frame due just after one shows as due only a ms later.
// Frames due at 20.05 ms, 40.1 ms, ...
constexpr char kJustAfterAWholeMs[] = "w=96\nh=60\nfcc=YUY2\nframe_time=200500\n";

struct GraphClockRig {
  GraphClockRig() : rig(kJustAfterAWholeMs, "auto_clock=1\n") {
    rig.services.has_clock = true;
    rig.services.fine_command_wait = true;
    rig.services.run_start_ms = rig.env.NowMs();
    rig.Start();
  }
  StreamRig rig;
  FakeSample sample{96 * 60 * 2, &rig.env};
};

TEST(GraphClock, FramesDueJustAfterAWholeMsCostABoundedBusyWait) {
  GraphClockRig g;
  ASSERT_FALSE(g.rig.pin->use_cpu_clock());
  const int64_t spun_before = g.rig.env.spun_us;
  for (int n = 0; n < 50; ++n) {
    ASSERT_EQ(g.rig.pin->FillSample(&g.sample), S_OK);
    const double late = g.sample.stamped_at_ms - g.rig.services.run_start_ms - n * 20.05;
    EXPECT_GE(late, 0.0) << n;
    EXPECT_LT(late, 2.0) << n;
  }
  EXPECT_LT(static_cast<double>(g.rig.env.spun_us - spun_before) / 1000.0 / 50, 2.0);
  EXPECT_EQ(g.rig.pin->drop_count(), 0);
}

// A clock that stalls just before the due time: the wait neither polls it for the whole
// second until it gives up, nor misses a stop posted meanwhile.
TEST(GraphClock, AStalledClockIsNeitherPolledForASecondNorDeafToAStop) {
  GraphClockRig g;
  ASSERT_EQ(g.rig.pin->FillSample(&g.sample), S_OK);  // frame 0 at stream time 0
  g.rig.services.stalled_at_ms = 20.0;                // frame 1 is due at 20.05
  int64_t spun_before = g.rig.env.spun_us;
  double before = g.rig.env.NowMs();
  EXPECT_EQ(g.rig.pin->FillSample(&g.sample), S_FALSE);
  EXPECT_GT(g.rig.env.NowMs() - before, 1000.0) << "gave up early";
  EXPECT_LT(g.rig.env.NowMs() - before, 1010.0);
  EXPECT_LT(g.rig.env.spun_us - spun_before, 100000) << "polled the stalled clock";

  // Again, with a stop posted once the wait has polled the stalled clock a while.
  int reads = 0;
  g.rig.env.on_read = [&] {
    if (++reads == 50) g.rig.services.posted = framework::CommandStop;
  };
  spun_before = g.rig.env.spun_us;
  before = g.rig.env.NowMs();
  EXPECT_EQ(g.rig.pin->FillSample(&g.sample), S_FALSE);
  EXPECT_LT(g.rig.env.NowMs() - before, 10.0) << "the stop was not seen";
  EXPECT_EQ(g.sample.set_time_calls, 1);
}

}  // namespace
}  // namespace qp::stream::test
