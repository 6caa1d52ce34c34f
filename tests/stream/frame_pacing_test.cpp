// Pacing, counting and stamping on a clock the test controls: the schedule, drops and catching
// up, giving up on frames that never become due (also across the tick count's wrap), the wait
// for the running state, the stream-time clock, the timer resolution, absurd frame times, and
// the latency lines the frame loop writes to an opened log.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>

#include "support/stream_test_doubles.h"

namespace qp::stream::test {
namespace {

constexpr char kNtsc[] = "w=96\nh=60\nfcc=YUY2\nframe_time=333667\n";
constexpr double kNtscMs = 33.3667;
constexpr double kPollSlackMs = 0.1;  // the fake clock moves 10 µs per reading

TEST(FramePacing, FirstFrameAtOnceThenOneFrameTimeApart) {
  StreamRig rig(kNtsc);
  rig.Start();
  FakeSample sample(96 * 60 * 2, &rig.env);
  const double origin = rig.env.NowMs();

  ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
  EXPECT_EQ(rig.env.sleeps, 0);
  const double first = sample.stamped_at_ms - origin;
  EXPECT_LT(first, kPollSlackMs);
  for (int n = 1; n <= 4; ++n) {
    ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
    EXPECT_NEAR(sample.stamped_at_ms - origin, first + n * kNtscMs, kPollSlackMs) << n;
  }
  EXPECT_EQ(rig.pin->drop_count(), 0);
  EXPECT_EQ(rig.pin->frame_count(), 5);
}

TEST(FramePacing, AWholeFrameLateCountsOneDropThenCatchesUpBackToBack) {
  StreamRig rig(kNtsc);
  rig.Start();
  FakeSample sample(96 * 60 * 2, &rig.env);
  ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
  const double due0 = sample.stamped_at_ms;
  ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);

  // Frame 2 is due at due0 + 2 FT; the downstream held the stream 40 ms past that.
  rig.env.now_us = static_cast<int64_t>((due0 + 2 * kNtscMs + 40.0) * 1000.0);
  const int sleeps_before = rig.env.sleeps;
  ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
  EXPECT_EQ(rig.pin->drop_count(), 1);
  ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);  // frame 3: behind, but less than a frame
  EXPECT_EQ(rig.env.sleeps, sleeps_before) << "late frames leave back to back";
  EXPECT_EQ(rig.pin->drop_count(), 1);

  ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);  // frame 4: on schedule again
  EXPECT_GT(rig.env.sleeps, sleeps_before);
  EXPECT_NEAR(sample.stamped_at_ms, due0 + 4 * kNtscMs, kPollSlackMs);
  EXPECT_EQ(rig.pin->drop_count(), 1);
}

TEST(FramePacing, SampleTimesFollowTheFrameCountAlone) {
  StreamRig rig(kNtsc);
  rig.Start();
  FakeSample sample(96 * 60 * 2, &rig.env);
  const REFERENCE_TIME expected[][2] = {
      {0, 333667}, {333667, 667334}, {667334, 1001001}, {1001001, 1334668}};
  for (const auto& times : expected) {
    sample.Forget();
    ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
    rig.env.Advance(100.0);  // lateness must not show in the stamps
    EXPECT_EQ(sample.set_time_calls, 1);
    EXPECT_EQ(sample.start, times[0]);
    EXPECT_EQ(sample.stop, times[1]);
    EXPECT_EQ(sample.sync_point, TRUE);
    EXPECT_EQ(sample.actual_length, 96 * 60 * 2);
  }
}

// The tick count's wrap must neither end the wait at once nor make it endless.
class GiveUp : public ::testing::TestWithParam<uint32_t> {};

TEST_P(GiveUp, AFrameNotDueWithinOneSecondEndsTheStream) {
  StreamRig rig("w=96\nh=60\nfcc=YUY2\nframe_time=20000000\n");
  rig.Start();
  FakeSample sample(96 * 60 * 2, &rig.env);
  ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
  sample.Forget();
  // The tick count reads GetParam() when the wait begins.
  rig.env.tick_base = GetParam() - static_cast<uint32_t>(rig.env.now_us / 1000);

  const double wait_start = rig.env.NowMs();
  EXPECT_EQ(rig.pin->FillSample(&sample), S_FALSE);
  const double waited = rig.env.NowMs() - wait_start;
  EXPECT_GT(waited, 1000.0);
  EXPECT_LT(waited, 1003.0);
  EXPECT_EQ(sample.set_time_calls, 0);
  EXPECT_EQ(rig.pin->frame_count(), 1);
}

INSTANTIATE_TEST_SUITE_P(TickCounts, GiveUp,
                         ::testing::Values(0u, 0xFFFFFFFFu - 300u, 0xFFFFFFFFu - 1000u,
                                           0x7FFFFFFFu - 300u));

TEST(WaitForRunning, PausedWaitsAndFillsOnceRunning) {
  StreamRig rig(kNtsc);
  rig.Start();
  rig.services.state = State_Paused;
  rig.services.state_result = VFW_S_CANT_CUE;  // a success: keep waiting
  rig.env.on_sleep = [&] {
    if (rig.env.sleeps == 25) rig.services.state = State_Running;
  };
  FakeSample sample(96 * 60 * 2, &rig.env);
  EXPECT_EQ(rig.pin->FillSample(&sample), S_OK);
  EXPECT_EQ(rig.env.sleeps, 25);
  EXPECT_EQ(sample.start, 0);
}

// Frame 0 is composed while paused: a stop then leaves it unstamped. A failed state query
// leaves the sample untouched.
TEST(WaitForRunning, StopWhilePausedOrAFailedStateQueryLeavesTheSampleUntouched) {
  StreamRig rig(kNtsc);
  rig.Start();
  FakeSample sample(96 * 60 * 2, &rig.env);

  rig.services.state = State_Paused;
  rig.services.posted = framework::CommandRun;  // not a stop: keeps waiting
  rig.env.on_sleep = [&] {
    if (rig.env.sleeps == 3) rig.services.posted = framework::CommandStop;
  };
  EXPECT_EQ(rig.pin->FillSample(&sample), S_FALSE);
  EXPECT_EQ(rig.env.sleeps, 3);

  sample.Fill(0x5A);
  rig.services.state_result = E_UNEXPECTED;
  EXPECT_EQ(rig.pin->FillSample(&sample), E_UNEXPECTED);

  EXPECT_EQ(rig.pin->FillSample(nullptr), E_POINTER);
  EXPECT_EQ(sample.set_time_calls, 0);
  EXPECT_EQ(sample.Bytes()[0], 0x5A);
  EXPECT_EQ(rig.pin->frame_count(), 0);
}

// The first sample's fresh pages are brought in while paused, a piece at a time so that a Run
// is seen soon; what is left when the stream runs is brought in before the frame is written.
// Later frames pay nothing for it.
TEST(WaitForRunning, TheFirstSampleIsBroughtInByPiecesAndTheRestOnceRunning) {
  StreamRig rig("w=320\nh=480\nfcc=YUY2\nframe_time=400000\n");
  rig.Start();
  constexpr long kSize = 320 * 480 * 2;
  FakeSample sample(kSize, &rig.env);
  rig.services.state = State_Paused;
  rig.env.on_resident = [&] {
    if (rig.env.resident_pieces.size() == 1) rig.services.state = State_Running;
  };
  ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);

  // One piece while paused, the rest in pieces just as small, end to end over the sample.
  const auto& pieces = rig.env.resident_pieces;
  ASSERT_GE(pieces.size(), 3u);
  uint8_t* next = sample.Bytes();
  for (const auto& [bytes, size] : pieces) {
    EXPECT_TRUE(bytes == next && size > 0 && size <= pieces[0].second);
    next = bytes + size;
  }
  EXPECT_EQ(next, sample.Bytes() + kSize);

  const std::size_t before = pieces.size();
  sample.Forget();
  ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
  EXPECT_EQ(pieces.size(), before);
}

// A stop posted during the long wait on the mailbox ends it at once, with no sleep after it.
TEST(WaitForDueTime, StopEndsTheWaitWithoutTouchingTheSample) {
  StreamRig rig("w=96\nh=60\nfcc=YUY2\nframe_time=5000000\n");  // 500 ms
  rig.Start();
  FakeSample sample(96 * 60 * 2, &rig.env);
  ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
  sample.Forget();
  const int sleeps_before = rig.env.sleeps;
  const double before = rig.env.NowMs();
  int waited = 0;
  rig.services.on_command_wait = [&] {
    if (++waited == 5) rig.services.posted = framework::CommandStop;
  };
  EXPECT_EQ(rig.pin->FillSample(&sample), S_FALSE);
  EXPECT_EQ(rig.env.sleeps, sleeps_before) << "slept after the stop";
  EXPECT_LT(rig.env.NowMs() - before, 10.0) << "the stop was not noticed at once";
  EXPECT_EQ(sample.set_time_calls, 0);
  EXPECT_EQ(rig.pin->frame_count(), 1);
}

// A command other than a stop, posted during the wait on the mailbox, wakes it: the rest of the
// wait is slept, not spent asking the mailbox again, and the frame still leaves on time.
TEST(WaitForDueTime, ACommandDuringTheMailboxWaitNeitherSpinsNorEndsIt) {
  StreamRig rig(kNtsc);
  rig.Start();
  FakeSample sample(96 * 60 * 2, &rig.env);
  ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
  const double first = sample.stamped_at_ms;
  int waited = 0;
  rig.services.on_command_wait = [&] {
    if (++waited == 3) rig.services.posted = framework::CommandRun;
  };
  rig.services.command_waits = 0;
  ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
  EXPECT_EQ(rig.services.command_waits, 1) << "asked the mailbox again and again";
  EXPECT_LE(rig.env.sleeps, 12);
  EXPECT_NEAR(sample.stamped_at_ms - first, kNtscMs, kPollSlackMs);
}

// A copy that costs `ms`: the first reading of a clock after the sample's first byte is
// painted finds the time gone.
struct CostlyCopy {
  CostlyCopy(FakeEnvironment& env, FakeSample& sample, double ms) : sample(sample) {
    env.on_read = [this, &env, ms] {
      if (pending && this->sample.Bytes()[0] != kUnpainted) {
        pending = false;
        env.Advance(ms);
      }
    };
  }
  void Arm() {
    sample.Fill(kUnpainted);
    pending = true;
  }
  static constexpr uint8_t kUnpainted = 0xEE;
  FakeSample& sample;
  bool pending = false;
};

// A frame begun less than a frame time late is judged by the clock before its copy, not
// after: no drop. A frame on time is still composed before its due time, so its copy does not
// delay it.
TEST(WaitForDueTime, AFrameAlreadyDueIsJudgedBeforeItsCopy) {
  StreamRig rig(kNtsc);
  rig.Start();
  FakeSample sample(96 * 60 * 2, &rig.env);
  CostlyCopy copy(rig.env, sample, 1.0);
  ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
  const double due0 = sample.stamped_at_ms;
  ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);

  // Frame 2 begins 0.5 ms short of a frame time behind its due time.
  rig.env.now_us = static_cast<int64_t>((due0 + 3 * kNtscMs - 0.5) * 1000.0);
  copy.Arm();
  ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
  EXPECT_FALSE(copy.pending);
  EXPECT_EQ(rig.pin->drop_count(), 0);

  ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);  // frame 3 catches up
  copy.Arm();
  ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);  // frame 4, on time
  EXPECT_FALSE(copy.pending);
  EXPECT_NEAR(sample.stamped_at_ms, due0 + 4 * kNtscMs, kPollSlackMs);
  EXPECT_EQ(rig.pin->drop_count(), 0);
}

// Frame 0 is due at the run start, however long the worker takes to notice the run and to
// prepare the frame; what it can, it prepares while paused, so frame 0 leaves at once.
TEST(WaitForRunning, TheScheduleStartsAtTheRunStart) {
  constexpr char k25[] = "w=320\nh=480\nfcc=YUY2\nframe_time=400000\n";  // 3 pieces of pages
  constexpr long kSize = 320 * 480 * 2;
  const auto run = [](StreamRig& rig) {
    rig.services.state = State_Running;
    static_cast<framework::PinBase&>(*rig.pin).OnRun(0);
    return rig.env.NowMs();
  };
  {  // the run comes while the pages are brought in: the rest, and the copy, come after it
    StreamRig rig(k25);
    rig.Start();
    FakeSample sample(kSize, &rig.env);
    CostlyCopy copy(rig.env, sample, 5.0);
    copy.Arm();
    rig.services.state = State_Paused;
    double run_at = -1.0;
    rig.env.on_resident = [&] {
      rig.env.Advance(2.0);
      if (rig.env.resident_pieces.size() == 1) run_at = run(rig);
    };
    ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
    EXPECT_NEAR(sample.stamped_at_ms, run_at + 9.0, 0.5) << "pages, then the copy";
    for (int n = 1; n <= 3; ++n) {
      ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
      EXPECT_NEAR(sample.stamped_at_ms, run_at + n * 40.0, kPollSlackMs) << n;
    }
  }
  {  // the run comes after frame 0 was composed while paused
    StreamRig rig(k25);
    rig.Start();
    FakeSample sample(kSize, &rig.env);
    CostlyCopy copy(rig.env, sample, 5.0);
    copy.Arm();
    rig.services.state = State_Paused;
    double run_at = -1.0;
    rig.env.on_sleep = [&] {
      if (rig.env.sleeps == 2) run_at = run(rig);
    };
    ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
    EXPECT_FALSE(copy.pending);
    EXPECT_NEAR(sample.stamped_at_ms, run_at, 0.2) << "frame 0 was not ready";
    for (int n = 1; n <= 3; ++n) {
      ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
      EXPECT_NEAR(sample.stamped_at_ms, run_at + n * 40.0, kPollSlackMs) << n;
    }
    EXPECT_EQ(rig.pin->drop_count(), 0);
  }
}

TEST(StreamTimeClock, FirstFrameWhenStreamTimeReachesZero) {
  StreamRig rig(kNtsc, "auto_clock=1\n");
  rig.services.has_clock = true;
  rig.services.run_start_ms = rig.env.NowMs() + 10.0;  // the run starts 10 ms from now
  rig.Start();
  ASSERT_FALSE(rig.pin->use_cpu_clock());

  FakeSample sample(96 * 60 * 2, &rig.env);
  const double before = rig.env.NowMs();
  ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
  EXPECT_NEAR(rig.env.NowMs() - before, 10.0, 1.0);
  EXPECT_EQ(sample.start, 0);
  EXPECT_NEAR(rig.pin->StreamClockMs(), 0.0, 1.0);
}

TEST(TimerResolution, EveryStartUpIsMatchedByOneShutDown) {
  StreamRig rig(kNtsc);
  EXPECT_EQ(rig.pin->OnThreadStop(), S_OK);  // no start-up, nothing to end
  EXPECT_EQ(rig.env.timer_periods_ended, 0);

  rig.Start();
  EXPECT_EQ(rig.env.timer_periods_begun, 1);
  EXPECT_EQ(rig.pin->OnThreadStop(), S_OK);
  EXPECT_EQ(rig.env.timer_periods_ended, 1);

  // A failed start-up still holds the period until the worker's shut-down.
  const config::Preset loaded = rig.pin->CurrentPreset();
  config::Preset preset = loaded;
  preset.font[0] = '\0';
  rig.pin->SelectPreset(preset);
  EXPECT_EQ(rig.pin->OnThreadStart(), E_OUTOFMEMORY);
  EXPECT_EQ(rig.pin->OnThreadStop(), S_OK);
  EXPECT_EQ(rig.env.timer_periods_begun, 2);
  EXPECT_EQ(rig.env.timer_periods_ended, 2);

  rig.pin->SelectPreset(loaded);
  rig.Start();  // a worker that never shut down: the pin's destruction ends the period
  rig.pin.reset();
  EXPECT_EQ(rig.env.timer_periods_ended, 3);
}

TEST(AbsurdFrameTimes, NoOverflowAndNoEndlessWait) {
  StreamRig rig(kNtsc);
  rig.Start();
  FakeSample sample(96 * 60 * 2, &rig.env);
  config::Preset preset = rig.pin->CurrentPreset();

  // Zero or negative: every frame due at once; the stamps stand still instead of running back.
  preset.frame_time = -5;
  rig.pin->SelectPreset(preset);
  for (int n = 0; n < 3; ++n) ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
  EXPECT_EQ(rig.env.sleeps, 0);
  EXPECT_EQ(sample.start, 0);
  EXPECT_EQ(sample.stop, 0);

  // The largest frame time: the stamps saturate, the next frame is given up on.
  preset.frame_time = std::numeric_limits<int64_t>::max();
  rig.pin->SelectPreset(preset);
  ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
  EXPECT_EQ(sample.stop, std::numeric_limits<int64_t>::max());
  EXPECT_EQ(rig.pin->FillSample(&sample), S_FALSE);
}

// The log the settings name is opened in the temporary folder by every start-up and gets one
// line per frame. The first frame comes 250 ms after start-up: its line compares with 0, so
// the step is the clock itself. The next frames leave a frame time (33.3667 ms) apart.
TEST(LatencyLog, OneLinePerFrameComparedWithThePreviousFrame) {
  const std::string name = "qp_stream_latency_" + std::to_string(GetCurrentProcessId()) + ".log";
  char folder[MAX_PATH + 1];
  const std::string path = std::string(folder, GetTempPathA(sizeof folder, folder)) + name;
  DeleteFileA(path.c_str());
  StreamRig rig(kNtsc, "latency_log=" + name + "\n");
  rig.Start();
  ASSERT_TRUE(rig.pin->latency_log().IsOpen());
  rig.env.Advance(250.0);
  FakeSample sample(96 * 60 * 2, &rig.env);
  for (int n = 0; n < 3; ++n) ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
  EXPECT_EQ(rig.pin->OnThreadStop(), S_OK);  // closes the log, writing what it holds
  EXPECT_FALSE(rig.pin->latency_log().IsOpen());

  std::ifstream file(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  file.close();
  DeleteFileA(path.c_str());
  EXPECT_EQ(text,
            "     250(250)ms: Latancy=-250ms, TimeStamp=   0ms\r\n"
            "     283( 33)ms: Latancy=-250ms, TimeStamp=  33ms\r\n"
            "     316( 33)ms: Latancy=-250ms, TimeStamp=  66ms\r\n");
}

}  // namespace
}  // namespace qp::stream::test
