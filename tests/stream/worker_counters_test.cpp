// What the worker reports about itself: the frame records and their ring, how lateness is split
// between the downstream and the source, the wait for the due time on sleeps that overrun, and
// the start-up's picture cache, which must pick up an edited picture at the next start.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "support/stream_test_doubles.h"
#include "stream/worker_counters.h"
#include "synth/bmp_test_picture.h"

namespace qp::stream::test {
namespace {

constexpr char kSixty[] = "w=96\nh=60\nfcc=YUY2\nframe_time=166667\n";
constexpr double kSixtyMs = 16.6667;

FrameTimes Record(uint32_t frame, int32_t late_us, int32_t downstream_us) {
  FrameTimes r{};
  r.frame = frame;
  r.compose_us = 100;
  r.late_us = late_us;
  r.downstream_us = downstream_us;
  return r;
}

TEST(WorkerCounters, TheRingKeepsTheLatestRecordsAndTheTotalsCountThemAll) {
  auto counters = std::make_unique<WorkerCounters>();
  const uint32_t total = WorkerCounters::kCapacity + 10;
  for (uint32_t n = 0; n < total; ++n) {
    // Every 100th frame late: alternately held by the downstream and by the source.
    const bool late = n % 100 == 0;
    counters->Add(Record(n, late ? 20000 : 50, late && n % 200 == 0 ? 19000 : 0), 16667);
  }
  std::vector<FrameTimes> records(WorkerCounters::kCapacity + 5);
  uint64_t from = 0;
  const uint32_t count = counters->ReadFrames(0, records.data(), uint32_t(records.size()), &from);
  EXPECT_EQ(count, WorkerCounters::kCapacity - 1);
  EXPECT_EQ(from, 11u) << "the oldest ones were written over, and 10's slot is written next";
  EXPECT_EQ(records[0].frame, 11u);
  EXPECT_EQ(records[count - 1].frame, total - 1);

  EXPECT_EQ(counters->ReadFrames(total - 3, records.data(), 2, &from), 2u);
  EXPECT_EQ(from, total - 3);
  EXPECT_EQ(records[1].frame, total - 2);
  EXPECT_EQ(counters->ReadFrames(total + 7, records.data(), 8, &from), 0u) << "nothing newer";
  EXPECT_EQ(counters->ReadFrames(0, nullptr, 8, &from), 0u);

  StreamTotals totals{};
  counters->ReadTotals(totals);
  EXPECT_EQ(totals.frames, total);
  EXPECT_EQ(totals.compose_us, int64_t{100} * total);
  EXPECT_EQ(totals.late_frames, 42u);             // 0, 100, ..., 4100
  EXPECT_EQ(totals.downstream_late_frames, 21u);  // 0, 200, ..., 4000
  EXPECT_EQ(totals.max_source_late_us, 20000);
  EXPECT_EQ(totals.max_downstream_us, 19000);

  counters->Reset();
  counters->ReadTotals(totals);
  EXPECT_EQ(totals.frames, 0u);
  EXPECT_EQ(totals.late_frames, 0u);
}

// The slot the next record goes into is written before that record is published: a reader
// that copied it could get half of a new record under the old one's index.
TEST(WorkerCounters, TheSlotWrittenNextIsNeverRead) {
  auto counters = std::make_unique<WorkerCounters>();
  constexpr uint32_t kCapacity = WorkerCounters::kCapacity;
  std::vector<FrameTimes> records(kCapacity);
  uint64_t from = 99;
  for (uint32_t n = 0; n <= 2 * kCapacity; ++n) {
    if (n == kCapacity - 1 || n == kCapacity || n == 2 * kCapacity) {
      // Record n - kCapacity shares its slot with record n, the next to be written.
      const uint64_t oldest = n >= kCapacity ? n - kCapacity + 1 : 0;
      EXPECT_EQ(counters->ReadFrames(0, records.data(), kCapacity, &from), n - oldest) << n;
      EXPECT_EQ(from, oldest) << n;
      EXPECT_EQ(records[0].frame, oldest) << n;
    }
    counters->Add(Record(n, 0, 0), 16667);
  }
}

// Drives the pin as the stream loop does, with the loop's readings of the fake clock.
struct LoopDriver {
  explicit LoopDriver(StreamRig& rig) : rig(rig), sample(96 * 60 * 2, &rig.env) {}

  // `held_ms`: how long the allocator kept the worker waiting for this frame's buffer;
  // `gap_ms`: how long the worker had no processor before it asked for it.
  void Frame(double held_ms = 0.0, double gap_ms = 0.0) {
    framework::SampleTimes t;
    rig.env.Advance(gap_ms);
    t.asked = rig.pin->LoopClock();
    rig.env.Advance(held_ms);
    t.got = rig.pin->LoopClock();
    ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
    t.delivering = rig.pin->LoopClock();
    t.delivered = rig.pin->LoopClock();
    rig.pin->OnSampleDone(t);
  }
  std::vector<FrameTimes> Records() {
    std::vector<FrameTimes> records(64);
    uint64_t from = 0;
    records.resize(rig.pin->ReadFrames(0, records.data(), 64, &from));
    return records;
  }

  StreamRig& rig;
  FakeSample sample;
};

TEST(Lateness, HeldBuffersAreTheDownstreamsLateWakeUpsTheSources) {
  StreamRig rig(kSixty);
  rig.Start();
  LoopDriver loop(rig);
  for (int n = 0; n < 3; ++n) loop.Frame();
  loop.Frame(50.0);  // frame 3: its buffer came 50 ms late
  loop.Frame();      // frames 4 to 6 leave back to back, behind because of frame 3
  loop.Frame();
  loop.Frame();
  for (int n = 0; n < 3; ++n) loop.Frame();  // on schedule again
  rig.env.overrun_us = 40000;                // the system wakes the worker 40 ms late, once
  loop.Frame();                              // frame 10
  rig.env.overrun_us = 0;
  loop.Frame();
  loop.Frame(0.0, 30.0);  // frame 12: the worker lost the processor between two frames

  const std::vector<FrameTimes> r = loop.Records();
  ASSERT_EQ(r.size(), 13u);
  for (uint32_t n = 0; n < r.size(); ++n) EXPECT_EQ(r[n].frame, n);
  for (int n : {1, 2, 8, 9}) {
    EXPECT_LT(r[n].late_us, 200) << n;
    EXPECT_EQ(r[n].downstream_us, 0) << n;
    EXPECT_GT(r[n].wait_due_us, 10000) << n;
  }
  EXPECT_NEAR(r[3].wait_buffer_us, 50000, 100);
  EXPECT_GT(r[3].late_us, 50000 - int32_t(kSixtyMs * 1000) - 500);
  EXPECT_GT(r[3].downstream_us, r[3].late_us - 500);
  // The catching-up frames inherit the downstream's share.
  EXPECT_GT(r[4].late_us, 10000);
  EXPECT_GT(r[4].downstream_us, r[4].late_us - 500);
  EXPECT_LT(r[4].wait_due_us, 100) << "no wait: already due";
  // Its wait ended 40 ms late, well after the due time.
  EXPECT_GT(r[10].late_us, 20000);
  EXPECT_EQ(r[10].downstream_us, 0);
  EXPECT_NEAR(r[10].wake_late_us, r[10].late_us, 100);
  // Frame 11 starts behind because of it and is the system's too.
  EXPECT_GT(r[11].late_us, 5000);
  EXPECT_LT(r[11].downstream_us, 100);
  EXPECT_NEAR(r[11].wake_late_us, r[11].late_us, 200);
  EXPECT_GT(r[12].late_us, 20000);
  EXPECT_LT(r[12].downstream_us, 100) << "outside the downstream's calls";

  StreamTotals totals{};
  rig.pin->ReadTotals(totals);
  EXPECT_EQ(totals.frames, 13u);
  // Frames 3, 10 and 12, and 4 and 11 still more than a frame behind.
  EXPECT_EQ(totals.late_frames, 5u);
  EXPECT_EQ(totals.downstream_late_frames, 2u);
  EXPECT_GT(totals.max_source_late_us, 20000);
}

// The worker's processor time is read on the first frame and then about once a second, not on
// every frame, and given from the first reading on.
TEST(WorkerCpu, ReadAboutOnceASecond) {
  StreamRig rig(kSixty);
  rig.env.thread_cpu_100ns = 7000000;
  rig.env.on_sleep = [&] { rig.env.thread_cpu_100ns += 2000; };  // 0.2 ms per wake-up
  rig.Start();
  LoopDriver loop(rig);
  for (int n = 0; n < 150; ++n) loop.Frame();
  const std::vector<FrameTimes> r = loop.Records();
  ASSERT_EQ(r.size(), 64u);  // the first 64 are enough: readings at frame 0 and about 60
  EXPECT_EQ(r[0].worker_cpu_ms, 0);
  std::vector<uint32_t> read;
  for (const FrameTimes& f : r)
    if (f.worker_cpu_ms >= 0) read.push_back(f.frame);
  ASSERT_EQ(read.size(), 2u);
  EXPECT_NEAR(read[1], 60, 1);
  EXPECT_GT(r[read[1]].worker_cpu_ms, 0);
  EXPECT_LE(rig.env.cpu_readings, 4) << "read on far more frames than once a second";
}

// Sleeps that overrun by 300 µs: the wait learns to ask for less, frames leave close after
// their due time and never before it. Each wake-up costs processor time: a frame's wait is one
// wait on the mailbox and a short sleep or two, not a sleep every few ms or every 100 µs; where
// the mailbox wait keeps to the µs, it is the only one once the overrun is learnt.
class OverrunningWaits : public ::testing::TestWithParam<bool> {};

TEST_P(OverrunningWaits, AreAllowedFor) {
  const bool fine = GetParam();
  StreamRig rig(kSixty);
  rig.env.overrun_us = 300;
  rig.services.fine_command_wait = fine;
  rig.Start();
  FakeSample sample(96 * 60 * 2, &rig.env);
  ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
  const double first = sample.stamped_at_ms;
  for (int n = 1; n <= 40; ++n) {
    const int sleeps_before = rig.env.sleeps;
    const int waits_before = rig.services.command_waits;
    ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
    EXPECT_EQ(rig.services.command_waits - waits_before, 1) << n;
    const double late = sample.stamped_at_ms - (first + n * kSixtyMs);
    EXPECT_GE(late, -0.05) << n;
    if (n >= 20) {
      EXPECT_LT(late, 0.15) << n;
      if (fine) {
        EXPECT_EQ(rig.env.sleeps - sleeps_before, 0) << n;
      }
    }
    EXPECT_LE(rig.env.sleeps - sleeps_before, 3) << n << ": the mailbox wait counts as one";
  }
  EXPECT_EQ(rig.pin->drop_count(), 0);
}

INSTANTIATE_TEST_SUITE_P(WaitForDueTime, OverrunningWaits, ::testing::Bool());

// A plain RGB 32 picture of one grey; the frame's middle shows it.
std::vector<uint8_t> Grey(int32_t side, uint8_t value) {
  return synth::testing::MakeBmp(
      synth::testing::BmpLayout{side, side},
      [value](int32_t, int32_t, uint8_t* p) { p[0] = p[1] = p[2] = value; });
}

TEST(PictureCache, AStartReusesThePictureUntilItsFileChanges) {
  StreamRig rig("w=96\nh=60\nfcc=RG32\nbmp=grey.bmp\n");
  const std::string path = rig.WriteFile("grey.bmp", Grey(16, 0x33));
  FakeSample sample(96 * 60 * 4, &rig.env);
  const auto middle = [&] { return sample.Bytes()[(30 * 96 + 48) * 4]; };
  StreamTotals totals{};

  rig.Start();
  rig.pin->ReadTotals(totals);
  EXPECT_EQ(totals.startup.background_cached, 0);
  ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
  EXPECT_EQ(middle(), 0x33);
  EXPECT_EQ(rig.pin->OnThreadStop(), S_OK);

  rig.Start();
  rig.pin->ReadTotals(totals);
  EXPECT_EQ(totals.startup.background_cached, 1);
  EXPECT_EQ(totals.startup.glyphs_cached, 1);
  EXPECT_GE(totals.startup.background_us, 0);
  EXPECT_EQ(rig.pin->OnThreadStop(), S_OK);

  // Same size, new contents: the last-write time tells.
  const auto written = std::filesystem::last_write_time(path);
  rig.WriteFile("grey.bmp", Grey(16, 0x77));
  std::filesystem::last_write_time(path, written + std::chrono::seconds(2));
  rig.Start();
  rig.pin->ReadTotals(totals);
  EXPECT_EQ(totals.startup.background_cached, 0);
  ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
  EXPECT_EQ(middle(), 0x77);
  EXPECT_EQ(rig.pin->OnThreadStop(), S_OK);
}

}  // namespace
}  // namespace qp::stream::test
