// The analysis of a recording's readings: losses, repeats and reorderings against a known
// truth, misread numbers set aside rather than turned into losses, the source's own late
// frames not mistaken for misreads, and the time-stamp figures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <algorithm>
#include <functional>
#include <vector>

#include "check/recording_analysis.h"

namespace qp::check {
namespace {

constexpr double kFrameMs = 1000.0 / 30.0;

struct SourceFrame {
  StatusReading reading;
  double filled_ms = 0.0;
};

// Frames as the source paces them: frame n is due at start + n·ft and filled then, or when the
// thread gets to it after `stall_ms(n)`, whichever is later; a frame a whole frame time late
// counts a drop on itself. A small jitter keeps the clock readings from being too regular.
std::vector<SourceFrame> Source(int count, std::function<double(int)> stall_ms = nullptr,
                                double start_ms = 1234.56) {
  std::vector<SourceFrame> frames;
  double previous = start_ms;
  int32_t drops = 0;
  for (int n = 0; n < count; ++n) {
    const double due = start_ms + n * kFrameMs;
    const double ready = previous + 0.2 + (stall_ms ? stall_ms(n) : 0.0);
    const double filled = std::max(due, ready) + (n * 37 % 7) * 0.4;
    if (filled >= due + kFrameMs) ++drops;
    SourceFrame f;
    f.reading.readable = f.reading.clock_readable = true;
    f.reading.confidence = f.reading.clock_confidence = 0.9;
    f.reading.frame = n;
    f.reading.drops = drops;
    f.reading.clock_ms = static_cast<uint32_t>(static_cast<uint64_t>(filled));
    f.filled_ms = filled;
    frames.push_back(f);
    previous = filled;
  }
  return frames;
}

// A recording of the source's frames in `order`, each stamped 20 ms and a few more after it
// was filled; a repeat is stamped half a frame after the record before it.
std::vector<FrameRecord> Record(const std::vector<SourceFrame>& source,
                                const std::vector<int>& order) {
  std::vector<FrameRecord> records;
  std::vector<bool> used(source.size(), false);
  for (std::size_t i = 0; i < order.size(); ++i) {
    const SourceFrame& f = source[order[i]];
    FrameRecord r;
    r.position = static_cast<int64_t>(i);
    r.time_ms = used[order[i]] ? records.back().time_ms + kFrameMs / 2
                               : f.filled_ms + 20.0 + static_cast<double>(i * 13 % 5);
    used[order[i]] = true;
    r.reading = f.reading;
    records.push_back(r);
  }
  return records;
}

std::vector<int> Sequence(int from, int to) {
  std::vector<int> order;
  for (int n = from; n < to; ++n) order.push_back(n);
  return order;
}

void Erase(std::vector<int>& order, int first, int last) {
  order.erase(
      std::remove_if(order.begin(), order.end(), [&](int n) { return n >= first && n <= last; }),
      order.end());
}

RecordingAnalysis Analyse(const std::vector<FrameRecord>& records) {
  return AnalyseRecording(records, {kFrameMs});
}

TEST(RecordingAnalysis, CleanRecordingHasNoLossAndSteadyTiming) {
  const RecordingAnalysis a = Analyse(Record(Source(300), Sequence(0, 300)));
  EXPECT_EQ(a.read, 300);
  EXPECT_EQ(a.rejected, 0);
  EXPECT_EQ(a.missing, 0);
  EXPECT_EQ(a.repeats + a.reorderings, 0);
  EXPECT_EQ(a.first_frame, 0);
  EXPECT_EQ(a.last_frame, 299);
  EXPECT_NEAR(a.intervals.mean, kFrameMs, 0.1);
  EXPECT_EQ(a.intervals.count, 299);
  ASSERT_TRUE(a.drift_known);
  EXPECT_LT(std::fabs(a.drift_ms), 8.0);
  ASSERT_TRUE(a.lag_known);
  // The recorder's own jitter of 0..4 ms and the clock's whole milliseconds.
  EXPECT_GE(a.lag.min, 0.0);
  EXPECT_LT(a.lag.max, 6.0);
}

TEST(RecordingAnalysis, FindsLossesRepeatsAndSwaps) {
  std::vector<int> order = Sequence(0, 200);
  Erase(order, 10, 10);
  Erase(order, 60, 69);
  // 100 twice more, 150 and 151 swapped.
  auto at = std::find(order.begin(), order.end(), 100);
  order.insert(at + 1, {100, 100});
  std::iter_swap(std::find(order.begin(), order.end(), 150),
                 std::find(order.begin(), order.end(), 151));
  const RecordingAnalysis a = Analyse(Record(Source(200), order));
  EXPECT_EQ(a.missing, 11);
  ASSERT_EQ(a.losses.size(), 2u);
  EXPECT_EQ(a.losses[0].first, 10);
  EXPECT_EQ(a.losses[0].last, 10);
  EXPECT_EQ(a.losses[1].first, 60);
  EXPECT_EQ(a.losses[1].last, 69);
  EXPECT_EQ(a.losses[1].lost, 10);
  EXPECT_EQ(a.longest_loss, 10);
  EXPECT_EQ(a.repeats, 2);
  EXPECT_EQ(a.reorderings, 1);
  EXPECT_EQ(a.rejected, 0);
  // The frame after each loss says how many went before it.
  int64_t after = 0;
  for (const FrameResult& r : a.results)
    if (r.kind == FrameKind::AfterLoss) after += r.lost_before;
  EXPECT_EQ(after, 11);
  const auto late = std::find(order.begin(), order.end(), 150) - order.begin();
  EXPECT_EQ(a.results[late].kind, FrameKind::Reordered);
  // 151 came before 150 but nothing was lost before it.
  EXPECT_EQ(a.results[late - 1].kind, FrameKind::Next);
}

TEST(RecordingAnalysis, UnreadableFramesFillGapsOfTheirSize) {
  std::vector<FrameRecord> records = Record(Source(100), Sequence(0, 100));
  for (int i : {20, 40, 41, 42}) records[i].reading.readable = false;
  RecordingAnalysis a = Analyse(records);
  EXPECT_EQ(a.missing, 0);
  EXPECT_EQ(a.inferred, 4);
  EXPECT_EQ(a.results[41].kind, FrameKind::Inferred);
  EXPECT_EQ(a.results[41].placed, 41);
  EXPECT_EQ(a.results[41].frame, -1);  // never claimed as read

  // 70 removed and 71 unreadable: one of the two numbers is lost, not both.
  std::vector<int> order = Sequence(0, 100);
  Erase(order, 70, 70);
  records = Record(Source(100), order);
  records[70].reading.readable = false;  // frame 71
  a = Analyse(records);
  EXPECT_EQ(a.missing, 1);
  ASSERT_EQ(a.losses.size(), 1u);
  EXPECT_EQ(a.losses[0].first, 70);
  EXPECT_EQ(a.losses[0].last, 71);
  EXPECT_EQ(a.inferred, 0);
}

// Misreads of the frame number by one either way, by ten, of the clock's seconds and of the
// drop count: each set aside, and no loss or repeat invented.
TEST(RecordingAnalysis, RejectsReadingsThatContradictTheirNeighbours) {
  const std::vector<SourceFrame> source = Source(200);
  std::vector<FrameRecord> records = Record(source, Sequence(0, 200));
  auto misread = [&](int i, auto change) {
    change(records[i].reading);
    records[i].reading.confidence = 0.4;
  };
  misread(30, [](StatusReading& r) { r.frame += 1; });
  misread(61, [](StatusReading& r) { r.frame -= 1; });
  misread(90, [](StatusReading& r) { r.frame += 10; });
  misread(120, [](StatusReading& r) { r.clock_ms += 1000; });
  misread(150, [](StatusReading& r) { r.drops += 3; });
  const RecordingAnalysis a = Analyse(records);
  EXPECT_EQ(a.rejected, 5);
  EXPECT_EQ(a.missing, 0);
  EXPECT_EQ(a.repeats, 0);
  EXPECT_EQ(a.reorderings, 0);
  for (int i : {30, 61, 90, 120, 150}) {
    EXPECT_TRUE(a.results[i].rejected) << i;
    EXPECT_EQ(a.results[i].kind, FrameKind::Inferred) << i;
    EXPECT_EQ(a.results[i].placed, i) << i;
  }

  // A confident misread that breaks the pacing outright goes too.
  records = Record(source, Sequence(0, 200));
  records[77].reading.frame = 7;
  records[77].reading.confidence = 0.99;
  EXPECT_TRUE(Analyse(records).results[77].rejected);
}

// Readings without a clearly read clock cannot be checked against the pacing: one that
// breaks the sequence on both sides is not enough to claim a loss or a repeat.
TEST(RecordingAnalysis, AnomaliesNeedACorroboratedReading) {
  const std::vector<SourceFrame> source = Source(100);
  std::vector<FrameRecord> records = Record(source, Sequence(0, 100));
  auto blur = [&](int i) {
    records[i].reading.clock_readable = false;
    records[i].reading.confidence = 0.3;
  };
  records[30].reading.frame = 33;
  blur(30);
  records[50].reading.frame = 49;
  blur(50);
  // A stale status line shown again at 74 with its clock, and 76 misread as 75: the reading
  // in two conflicts goes, the one in one stays.
  records[74].reading = records[75].reading;
  records[76].reading.frame = 75;
  // Frame 20 shown three times, each time read alike but weakly: a repeat where the
  // background vouched for each number, a compressor's copy of the text over new frames
  // where it cannot.
  records[21].reading = records[22].reading = records[20].reading;
  for (int i : {20, 21, 22}) records[i].reading.confidence = 0.3;
  AnalysisOptions vouched{kFrameMs};
  vouched.background_identifies = true;
  RecordingAnalysis a = AnalyseRecording(records, vouched);
  EXPECT_FALSE(a.results[21].rejected);
  EXPECT_EQ(a.results[22].kind, FrameKind::Repeat);
  a = Analyse(records);
  EXPECT_TRUE(a.results[21].rejected);
  EXPECT_TRUE(a.results[22].rejected);
  EXPECT_TRUE(a.results[30].rejected);
  EXPECT_TRUE(a.results[50].rejected);
  EXPECT_TRUE(a.results[76].rejected);
  EXPECT_FALSE(a.results[75].rejected);
  EXPECT_EQ(a.results[30].placed, 30);
  EXPECT_EQ(a.results[50].placed, 50);

  // A real loss whose next frame is read weakly and the one after not at all: the weak
  // reading continues the sequence after the gap, so it stands.
  std::vector<int> order = Sequence(0, 100);
  Erase(order, 10, 10);
  records = Record(source, order);
  blur(10);                              // frame 11
  records[11].reading.readable = false;  // frame 12
  a = Analyse(records);
  EXPECT_EQ(a.missing, 1);
  ASSERT_EQ(a.losses.size(), 1u);
  EXPECT_EQ(a.losses[0].first, 10);
  EXPECT_EQ(a.losses[0].last, 10);
  EXPECT_FALSE(a.results[10].rejected);
  EXPECT_EQ(a.repeats + a.reorderings, 0);
}

// A stall of ten frame times at frame 40: the frames after it come back to back, each a drop,
// their clocks far from their due times. All genuine, none set aside.
TEST(RecordingAnalysis, KeepsTheSourcesOwnLateFrames) {
  const auto stall = [](int n) { return n == 40 ? 10 * kFrameMs : 0.0; };
  const std::vector<SourceFrame> source = Source(120, stall);
  const RecordingAnalysis a = Analyse(Record(source, Sequence(0, 120)));
  EXPECT_EQ(a.rejected, 0);
  EXPECT_EQ(a.missing, 0);
  EXPECT_EQ(a.source_drops, source.back().reading.drops);
  EXPECT_GE(a.source_drops, 9);

  // A frame late by most of a frame time without a drop is doubtful among punctual ones; read
  // confidently it stays, and doubted it still fills its own gap.
  std::vector<SourceFrame> late = Source(60);
  late[30].reading.clock_ms += static_cast<uint32_t>(0.75 * kFrameMs);
  std::vector<FrameRecord> records = Record(late, Sequence(0, 60));
  records[30].reading.confidence = 0.9;
  EXPECT_FALSE(Analyse(records).results[30].rejected);
  records[30].reading.confidence = 0.3;
  const RecordingAnalysis doubted = Analyse(records);
  EXPECT_EQ(doubted.missing, 0);
  EXPECT_EQ(doubted.results[30].placed, 30);
}

TEST(RecordingAnalysis, TimeStampFigures) {
  std::vector<int> order = Sequence(0, 100);
  Erase(order, 50, 52);
  std::vector<FrameRecord> records = Record(Source(100), order);
  // A nominal timeline, as an AVI file has: evenly spaced, blind to the three lost frames.
  for (FrameRecord& r : records) r.time_ms = static_cast<double>(r.position) * kFrameMs;
  RecordingAnalysis a = Analyse(records);
  EXPECT_FALSE(a.lag_known);
  EXPECT_FALSE(a.lag_note.empty());
  ASSERT_TRUE(a.drift_known);
  EXPECT_NEAR(a.drift_ms, -3 * kFrameMs, 0.01);
  EXPECT_NEAR(a.intervals.stddev, 0.0, 1e-9);
  // The same rounded to the millisecond, as Matroska stores it: still no clock.
  for (FrameRecord& r : records) r.time_ms = std::round(r.time_ms);
  EXPECT_FALSE(Analyse(records).lag_known);

  // One late stamp shows in the maximum, not in the 99th percentile of 299 intervals.
  records = Record(Source(300), Sequence(0, 300));
  for (FrameRecord& r : records) r.time_ms = static_cast<double>(r.position) * 40.0;
  for (std::size_t i = 60; i < records.size(); ++i) records[i].time_ms += 100.0;
  a = Analyse(records);
  EXPECT_DOUBLE_EQ(a.intervals.max, 140.0);
  EXPECT_DOUBLE_EQ(a.intervals.min, 40.0);
  EXPECT_DOUBLE_EQ(a.intervals.p99, 40.0);
  EXPECT_TRUE(a.lag_known);

  for (FrameRecord& r : records) r.time_ms = kUnknown;
  a = Analyse(records);
  EXPECT_EQ(a.intervals.count, 0);
  EXPECT_FALSE(a.drift_known);
  EXPECT_FALSE(a.lag_known);
}

// The clock passing 2^32 ms within the recording, no frame time, nothing readable at all, and
// numbers no source writes.
TEST(RecordingAnalysis, OddInputs) {
  RecordingAnalysis a =
      Analyse(Record(Source(100, nullptr, 4294967295.0 - 1500.0), Sequence(0, 100)));
  EXPECT_EQ(a.rejected, 0);
  EXPECT_LT(a.lag.max, 6.0);

  // A first clock read as garbage (and flagged so) is no origin to unwrap the others around.
  std::vector<FrameRecord> garbled = Record(Source(100), Sequence(0, 100));
  garbled[0].reading.clock_readable = false;
  garbled[0].reading.clock_ms += 0x80000000u + 1000;
  a = Analyse(garbled);
  EXPECT_EQ(a.rejected, 0);
  EXPECT_LT(a.lag.max, 6.0);

  a = AnalyseRecording(Record(Source(50), Sequence(0, 50)), {0.0});
  EXPECT_EQ(a.read, 50);
  EXPECT_FALSE(a.drift_known);

  std::vector<FrameRecord> records = Record(Source(20), Sequence(0, 20));
  for (FrameRecord& r : records) r.reading.readable = false;
  a = Analyse(records);
  EXPECT_FALSE(a.any_identified);
  EXPECT_EQ(a.unreadable, 20);
  EXPECT_EQ(a.missing, 0);

  records = Record(Source(20), Sequence(0, 20));
  records[5].reading.frame = -5;
  records[6].reading.drops = -1;
  a = Analyse(records);
  EXPECT_EQ(a.results[5].kind, FrameKind::Inferred);
  EXPECT_EQ(a.results[6].kind, FrameKind::Inferred);

  EXPECT_EQ(Analyse({}).frames, 0);
}

}  // namespace
}  // namespace qp::check
