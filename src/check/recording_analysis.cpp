#include "check/recording_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <queue>
#include <set>
#include <unordered_set>

namespace qp::check {
namespace {

// The status line's clock is whole milliseconds and the frame time is not: pacing bounds are
// widened by this much.
constexpr double kSlackMs = 2.0;
// Readings compared with each one, on each side in recording order.
constexpr int kNeighbours = 4;
constexpr int kMaxPasses = 5;

struct Candidate {
  std::size_t record = 0;
  int64_t frame = 0;
  int64_t clock = 0;  // ms, unwrapped around the first reading's clock
  int32_t drops = 0;
  bool has_clock = false;  // the clock's digits were read as clearly as the number's
  double confidence = 0.0;
  double base = 0.0;  // clock − frame × frame time: the stream's start plus this frame's lateness
};

// Whether two readings can both be true of one stream paced at frame time `ft`. The source
// fills frame n at its due time start + n·ft or later; a frame a whole frame time late counts
// a drop on itself, and one k frame times late makes its next k − 1 frames late too.
bool Fits(const Candidate& x, const Candidate& y, double ft) {
  const Candidate& a = x.frame <= y.frame ? x : y;
  const Candidate& b = x.frame <= y.frame ? y : x;
  const int64_t df = b.frame - a.frame;
  const int64_t dc = b.clock - a.clock;
  const int64_t dd = int64_t{b.drops} - a.drops;
  if (df == 0)
    return dd == 0 && (!a.has_clock || !b.has_clock || dc == 0);  // one frame, read twice
  if (dd < 0 || dd > df) return false;
  if (!a.has_clock || !b.has_clock) return true;
  if (dc < 0) return false;
  if (ft <= 0.0) return true;
  const double lateness = static_cast<double>(dc) - static_cast<double>(df) * ft;
  // No drop up to b: b was less than a frame time late.
  if (dd == 0 && lateness > ft + kSlackMs) return false;
  // a late by k frame times would have dropped k − 1 of the frames after it.
  if (dd < df && lateness < -ft * static_cast<double>(dd + 2) - kSlackMs) return false;
  return true;
}

// Sets aside the readings that cannot be trusted, never to take them back:
//  1. where two nearby readings cannot both be true, the one in most such conflicts goes
//     first, until none is left;
//  2. a reading whose clock sits half a frame time or more off the clocks of most neighbours
//     with as many drops goes, unless read with strong confidence;
//  3. a reading that breaks the one-frame-per-position sequence on both sides (a loss, a
//     repeat, a reordering) must be corroborated by a clearly read clock and some confidence.
// Setting readings aside changes who is whose neighbour, so the steps repeat until none acts.
class Vetting {
 public:
  Vetting(const std::vector<Candidate>& cands, const std::vector<int64_t>& positions, double ft,
          double strong_confidence, bool alike_repeats)
      : c_(cands),
        pos_(positions),
        ft_(ft),
        strong_(strong_confidence),
        alike_repeats_(alike_repeats),
        n_(cands.size()),
        prev_(n_),
        next_(n_),
        fails_(n_, 0),
        version_(n_, 0),
        rejected_(n_, false) {
    for (std::size_t k = 0; k < n_; ++k) {
      prev_[k] = k == 0 ? kNone : k - 1;
      next_[k] = k + 1 < n_ ? k + 1 : kNone;
    }
  }

  std::vector<bool> Run() {
    for (int round = 0; round < kMaxPasses; ++round) {
      RemoveConflicts();
      const bool doubted = RemoveDoubted();
      const bool uncorroborated = RemoveUncorroborated();
      if (!doubted && !uncorroborated) break;
    }
    return rejected_;
  }

 private:
  static constexpr std::size_t kNone = SIZE_MAX;
  // Below this, a reading alone is not enough to claim a loss, repeat or reordering.
  static constexpr double kAnomalyConfidence = 0.4;

  template <typename Visit>
  void ForNear(std::size_t k, Visit visit) const {
    std::size_t j = prev_[k];
    for (int i = 0; i < kNeighbours && j != kNone; ++i, j = prev_[j]) visit(j);
    j = next_[k];
    for (int i = 0; i < kNeighbours && j != kNone; ++i, j = next_[j]) visit(j);
  }

  int CountFails(std::size_t k) const {
    int fails = 0;
    ForNear(k, [&](std::size_t j) { fails += Fits(c_[k], c_[j], ft_) ? 0 : 1; });
    return fails;
  }

  void Remove(std::size_t k) {
    rejected_[k] = true;
    if (prev_[k] != kNone) next_[prev_[k]] = next_[k];
    if (next_[k] != kNone) prev_[next_[k]] = prev_[k];
  }

  // Worst first: most conflicts, then no clock, then the lower confidence.
  void RemoveConflicts() {
    struct Entry {
      int fails;
      bool clock;
      double confidence;
      std::size_t k;
      uint32_t version;
      bool operator<(const Entry& o) const {
        if (fails != o.fails) return fails < o.fails;
        if (clock != o.clock) return clock;
        return confidence > o.confidence;
      }
    };
    std::priority_queue<Entry> heap;
    auto push = [&](std::size_t k) {
      fails_[k] = CountFails(k);
      ++version_[k];
      if (fails_[k] > 0) heap.push({fails_[k], c_[k].has_clock, c_[k].confidence, k, version_[k]});
    };
    for (std::size_t k = 0; k < n_; ++k)
      if (!rejected_[k]) push(k);
    while (!heap.empty()) {
      const Entry top = heap.top();
      heap.pop();
      if (rejected_[top.k] || top.version != version_[top.k]) continue;
      std::vector<std::size_t> affected;
      ForNear(top.k, [&](std::size_t j) { affected.push_back(j); });
      Remove(top.k);
      for (std::size_t j : affected) push(j);
    }
  }

  // Neighbours with as many drops: those numbered below bound this reading's lateness to
  // under a frame time, those above bound theirs. A frame number misread by k shifts the base
  // by k frame times.
  bool Doubted(std::size_t k) const {
    const Candidate& c = c_[k];
    if (ft_ <= 0.0 || !c.has_clock) return false;
    int below = 0, below_apart = 0, above = 0, above_apart = 0;
    ForNear(k, [&](std::size_t j) {
      const Candidate& o = c_[j];
      if (!o.has_clock || o.drops != c.drops || o.frame == c.frame) return;
      const double apart = c.base - o.base;
      if (o.frame < c.frame) {
        ++below;
        if (std::fabs(apart) > ft_ / 2) ++below_apart;
      } else {
        ++above;
        if (apart < -ft_ / 2) ++above_apart;
      }
    });
    return (below >= 2 && 2 * below_apart > below) || (above >= 2 && 2 * above_apart > above);
  }

  bool RemoveDoubted() {
    std::vector<std::size_t> doubted;
    for (std::size_t k = 0; k < n_; ++k)
      if (!rejected_[k] && c_[k].confidence < strong_ && Doubted(k)) doubted.push_back(k);
    for (std::size_t k : doubted) Remove(k);
    return !doubted.empty();
  }

  // One frame per position, or, where the background has vouched for each frame's number,
  // the same frame again at the next position with every figure read alike, clock included.
  bool Sequential(std::size_t a, std::size_t b) const {
    const Candidate& x = c_[a];
    const Candidate& y = c_[b];
    if (y.frame - x.frame == pos_[b] - pos_[a]) return true;
    return alike_repeats_ && pos_[b] - pos_[a] == 1 && y.frame == x.frame && y.drops == x.drops &&
           x.has_clock && y.has_clock && x.clock == y.clock;
  }

  bool RemoveUncorroborated() {
    bool removed = false;
    for (std::size_t k = 0; k < n_; ++k) {
      if (rejected_[k]) continue;
      const bool sequential = (prev_[k] != kNone && Sequential(prev_[k], k)) ||
                              (next_[k] != kNone && Sequential(k, next_[k])) ||
                              (prev_[k] == kNone && next_[k] == kNone);
      if (sequential || (c_[k].has_clock && c_[k].confidence >= kAnomalyConfidence)) continue;
      Remove(k);
      removed = true;
    }
    return removed;
  }

  const std::vector<Candidate>& c_;
  const std::vector<int64_t>& pos_;
  const double ft_;
  const double strong_;
  const bool alike_repeats_;
  const std::size_t n_;
  std::vector<std::size_t> prev_, next_;  // the trusted readings as a list
  std::vector<int> fails_;
  std::vector<uint32_t> version_;
  std::vector<bool> rejected_;
};

// Count of members of `sorted` (ascending, unique) strictly between lo and hi.
int64_t CountBetween(const std::vector<int64_t>& sorted, int64_t lo, int64_t hi) {
  if (hi <= lo + 1) return 0;
  auto from = std::upper_bound(sorted.begin(), sorted.end(), lo);
  auto to = std::lower_bound(sorted.begin(), sorted.end(), hi);
  return to > from ? to - from : 0;
}

// Time stamps within a millisecond (a container's rounding) of a straight line through the
// positions came from a frame rate, not from a clock that saw the frames arrive.
bool NominalTimeline(const std::vector<FrameResult>& results) {
  double sp = 0, st = 0, spp = 0, spt = 0, count = 0;
  for (const FrameResult& r : results) {
    if (!std::isfinite(r.time_ms)) continue;
    const double p = static_cast<double>(r.position);
    sp += p, st += r.time_ms, spp += p * p, spt += p * r.time_ms, ++count;
  }
  const double denominator = count * spp - sp * sp;
  if (count < 3 || !(denominator > 0.0)) return false;
  const double slope = (count * spt - sp * st) / denominator;
  const double intercept = (st - slope * sp) / count;
  for (const FrameResult& r : results)
    if (std::isfinite(r.time_ms) &&
        std::fabs(r.time_ms - intercept - slope * static_cast<double>(r.position)) > 1.0)
      return false;
  return true;
}

struct UnreadableRun {
  std::size_t begin = 0;  // records [begin, end) are unidentified
  std::size_t end = 0;
  int64_t prev = 0;  // numbers of the identified records around it
  int64_t next = 0;
};

}  // namespace

const char* KindName(FrameKind kind) {
  switch (kind) {
    case FrameKind::Next: return "next";
    case FrameKind::AfterLoss: return "after-loss";
    case FrameKind::Repeat: return "repeat";
    case FrameKind::Reordered: return "reordered";
    case FrameKind::Inferred: return "inferred";
    case FrameKind::Unreadable: return "unreadable";
  }
  return "unreadable";
}

Spread SpreadOf(std::vector<double> values) {
  Spread s;
  values.erase(
      std::remove_if(values.begin(), values.end(), [](double v) { return !std::isfinite(v); }),
      values.end());
  if (values.empty()) return s;
  std::sort(values.begin(), values.end());
  s.count = static_cast<int64_t>(values.size());
  s.min = values.front();
  s.max = values.back();
  double sum = 0.0;
  for (double v : values) sum += v;
  s.mean = sum / static_cast<double>(values.size());
  double squares = 0.0;
  for (double v : values) squares += (v - s.mean) * (v - s.mean);
  s.stddev = std::sqrt(squares / static_cast<double>(values.size()));
  // Nearest rank.
  const std::size_t rank =
      static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(values.size())));
  s.p99 = values[rank == 0 ? 0 : rank - 1];
  return s;
}

RecordingAnalysis AnalyseRecording(const std::vector<FrameRecord>& records,
                                   const AnalysisOptions& options) {
  RecordingAnalysis out;
  const double ft = std::isfinite(options.frame_time_ms) && options.frame_time_ms > 0.0
                        ? options.frame_time_ms
                        : 0.0;
  out.frame_time_ms = ft;
  const std::size_t n = records.size();
  out.frames = static_cast<int64_t>(n);
  out.results.resize(n);

  // Clocks are unwrapped around the first clearly read one: a misread origin could put the
  // wrap between two true clocks.
  std::vector<Candidate> cands;
  uint32_t clock_origin = 0;
  for (const FrameRecord& r : records) {
    if (r.reading.readable && r.reading.clock_readable && !r.background_disagrees) {
      clock_origin = r.reading.clock_ms;
      break;
    }
  }
  for (std::size_t i = 0; i < n; ++i) {
    const FrameRecord& r = records[i];
    FrameResult& res = out.results[i];
    res.position = r.position;
    res.time_ms = std::isfinite(r.time_ms) ? r.time_ms : kUnknown;
    res.psnr = r.psnr;
    // The source counts from 0; a negative number or drop count is no reading of it.
    if (!r.reading.readable || r.reading.frame < 0 || r.reading.drops < 0) continue;
    if (r.background_disagrees) {
      res.rejected = true;
      res.confidence = r.reading.confidence;
      ++out.rejected;
      continue;
    }
    Candidate c;
    c.record = i;
    c.frame = r.reading.frame;
    // Differences wrap like the 32-bit clock itself.
    c.clock = static_cast<int32_t>(r.reading.clock_ms - clock_origin);
    c.drops = r.reading.drops;
    c.has_clock = r.reading.clock_readable;
    c.confidence = r.reading.confidence;
    c.base = static_cast<double>(c.clock) - static_cast<double>(c.frame) * ft;
    cands.push_back(c);
  }

  std::vector<int64_t> positions;
  for (const Candidate& c : cands) positions.push_back(records[c.record].position);
  const std::vector<bool> rejected =
      Vetting(cands, positions, ft, options.strong_confidence, options.background_identifies).Run();
  std::vector<int64_t> number(n, -1);
  std::vector<int64_t> clock(n, 0);
  std::vector<bool> has_clock(n, false);
  for (std::size_t k = 0; k < cands.size(); ++k) {
    const Candidate& c = cands[k];
    FrameResult& res = out.results[c.record];
    res.confidence = c.confidence;
    if (rejected[k]) {
      res.rejected = true;
      ++out.rejected;
      continue;
    }
    number[c.record] = c.frame;
    clock[c.record] = c.clock;
    has_clock[c.record] = c.has_clock;
    res.frame = c.frame;
    res.drops = c.drops;
    res.clock_known = c.has_clock;
    if (c.has_clock) res.clock_ms = records[c.record].reading.clock_ms;
    ++out.read;
  }

  // Runs of unidentified frames between two identified ones. A run exactly as long as the
  // numbers its neighbours leave unseen is those frames; otherwise it only lessens the loss.
  std::vector<int64_t> read_numbers;
  for (int64_t v : number)
    if (v >= 0) read_numbers.push_back(v);
  std::sort(read_numbers.begin(), read_numbers.end());
  read_numbers.erase(std::unique(read_numbers.begin(), read_numbers.end()), read_numbers.end());
  std::set<int64_t> inferred_numbers;
  std::vector<UnreadableRun> partial_runs;
  std::vector<bool> inferred(n, false);
  auto identified = [&](std::size_t i) { return out.results[i].frame != -1 || inferred[i]; };
  for (std::size_t i = 0; i < n;) {
    if (identified(i)) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < n && !identified(end)) ++end;
    if (i > 0 && end < n && number[i - 1] != -1 && number[end] != -1 &&
        number[end] > number[i - 1] + 1) {
      UnreadableRun run{i, end, number[i - 1], number[end]};
      const int64_t size = static_cast<int64_t>(end - i);
      int64_t seen = CountBetween(read_numbers, run.prev, run.next);
      for (auto it = inferred_numbers.upper_bound(run.prev);
           it != inferred_numbers.end() && *it < run.next; ++it)
        ++seen;
      const int64_t unseen = run.next - run.prev - 1 - seen;
      if (unseen == size) {
        std::size_t r = i;
        for (int64_t v = run.prev + 1; v < run.next && r < end; ++v) {
          if (std::binary_search(read_numbers.begin(), read_numbers.end(), v) ||
              inferred_numbers.count(v) != 0)
            continue;
          inferred_numbers.insert(v);
          number[r] = v;
          inferred[r] = true;
          out.results[r].placed = v;
          ++r;
        }
      } else if (unseen > 0) {
        partial_runs.push_back(run);
      }
    }
    i = end;
  }

  // Every identified number, then the gaps between them.
  std::vector<int64_t> all = read_numbers;
  all.insert(all.end(), inferred_numbers.begin(), inferred_numbers.end());
  std::sort(all.begin(), all.end());
  all.erase(std::unique(all.begin(), all.end()), all.end());
  if (!all.empty()) {
    out.any_identified = true;
    out.first_frame = all.front();
    out.last_frame = all.back();
  }
  for (std::size_t k = 1; k < all.size(); ++k)
    if (all[k] > all[k - 1] + 1)
      out.losses.push_back({all[k - 1] + 1, all[k] - 1, all[k] - all[k - 1] - 1});
  for (const UnreadableRun& run : partial_runs) {
    int64_t spare = static_cast<int64_t>(run.end - run.begin);
    auto it = std::upper_bound(out.losses.begin(), out.losses.end(), run.prev,
                               [](int64_t v, const LossRange& r) { return v < r.first; });
    for (; it != out.losses.end() && it->last < run.next && spare > 0; ++it) {
      const int64_t take = std::min(spare, it->lost);
      it->lost -= take;
      spare -= take;
    }
  }
  out.losses.erase(std::remove_if(out.losses.begin(), out.losses.end(),
                                  [](const LossRange& r) { return r.lost <= 0; }),
                   out.losses.end());
  for (const LossRange& r : out.losses) {
    out.missing += r.lost;
    out.longest_loss = std::max(out.longest_loss, r.lost);
  }
  // Frames lost between two numbers: the losses whose ranges lie between them.
  auto lost_between = [&](int64_t lo, int64_t hi) {
    int64_t lost = 0;
    auto it = std::upper_bound(out.losses.begin(), out.losses.end(), lo,
                               [](int64_t v, const LossRange& r) { return v < r.first; });
    for (; it != out.losses.end() && it->last < hi; ++it) lost += it->lost;
    return lost;
  };

  // Kinds in recording order.
  std::unordered_set<int64_t> seen;
  bool any_seen = false;
  int64_t highest = 0;
  for (std::size_t i = 0; i < n; ++i) {
    FrameResult& res = out.results[i];
    if (number[i] == -1) {
      res.kind = FrameKind::Unreadable;
      ++out.unreadable;
      continue;
    }
    const int64_t v = number[i];
    if (inferred[i]) {
      res.kind = FrameKind::Inferred;
      ++out.inferred;
      ++out.unreadable;
    } else if (seen.count(v) != 0) {
      res.kind = FrameKind::Repeat;
      ++out.repeats;
    } else if (any_seen && v < highest) {
      res.kind = FrameKind::Reordered;
      ++out.reorderings;
    } else {
      res.lost_before = any_seen ? lost_between(highest, v) : 0;
      res.kind = res.lost_before > 0 ? FrameKind::AfterLoss : FrameKind::Next;
    }
    seen.insert(v);
    highest = any_seen ? std::max(highest, v) : v;
    any_seen = true;
  }

  // The source's own late frames over the span: drops at the highest number less those at
  // the lowest.
  {
    const FrameResult* low = nullptr;
    const FrameResult* high = nullptr;
    for (const FrameResult& res : out.results) {
      if (res.kind == FrameKind::Unreadable || res.kind == FrameKind::Inferred) continue;
      if (low == nullptr || res.frame < low->frame) low = &res;
      if (high == nullptr || res.frame > high->frame) high = &res;
    }
    if (low != nullptr) out.source_drops = std::max<int64_t>(0, int64_t{high->drops} - low->drops);
  }

  // Time stamps: intervals between neighbours in the recording.
  std::vector<double> intervals;
  for (std::size_t i = 1; i < n; ++i) {
    const double a = out.results[i - 1].time_ms, b = out.results[i].time_ms;
    if (std::isfinite(a) && std::isfinite(b)) intervals.push_back(b - a);
  }
  out.intervals = SpreadOf(intervals);

  // Drift: first arrivals of read frames with a time stamp, recording time against number.
  {
    double sf = 0, st = 0, sff = 0, sft = 0;
    int64_t count = 0;
    const FrameResult* first = nullptr;
    const FrameResult* last = nullptr;
    for (const FrameResult& res : out.results) {
      if (res.kind == FrameKind::Unreadable || res.kind == FrameKind::Inferred ||
          res.kind == FrameKind::Repeat || !std::isfinite(res.time_ms))
        continue;
      if (first == nullptr) first = &res;
      last = &res;
      const double f = static_cast<double>(res.frame);
      sf += f, st += res.time_ms, sff += f * f, sft += f * res.time_ms;
      ++count;
    }
    const double c = static_cast<double>(count);
    const double denominator = c * sff - sf * sf;
    if (ft > 0.0 && count >= 2 && denominator > 0.0) {
      out.drift_known = true;
      const double slope = (c * sft - sf * st) / denominator;
      out.drift_ppm = (slope / ft - 1.0) * 1e6;
      out.drift_ms = (last->time_ms - static_cast<double>(last->frame) * ft) -
                     (first->time_ms - static_cast<double>(first->frame) * ft);
    }
  }

  // Lag: recording time minus the source's clock, for the first arrival of each read frame.
  if (NominalTimeline(out.results)) {
    out.lag_note =
        "the time stamps are position × a fixed interval: a nominal timeline, not a clock";
  } else {
    std::vector<double> offsets(n, kUnknown);
    double least = kUnknown;
    for (std::size_t i = 0; i < n; ++i) {
      const FrameResult& res = out.results[i];
      if ((res.kind != FrameKind::Next && res.kind != FrameKind::AfterLoss &&
           res.kind != FrameKind::Reordered) ||
          !has_clock[i] || !std::isfinite(res.time_ms))
        continue;
      offsets[i] = res.time_ms - static_cast<double>(clock[i]);
      if (!(offsets[i] >= least)) least = offsets[i];
    }
    std::vector<double> lags;
    for (std::size_t i = 0; i < n; ++i) {
      if (!std::isfinite(offsets[i])) continue;
      out.results[i].lag_ms = offsets[i] - least;
      lags.push_back(out.results[i].lag_ms);
    }
    out.lag = SpreadOf(lags);
    out.lag_known = out.lag.count > 0;
    if (!out.lag_known) out.lag_note = "no frame has both a time stamp and a clearly read clock";
  }

  // A rejected reading's PSNR compares the window of a number the frame does not carry.
  std::vector<double> psnr;
  for (std::size_t i = 0; i < n; ++i)
    if (!out.results[i].rejected) psnr.push_back(records[i].psnr);
  out.psnr = SpreadOf(psnr);
  return out;
}

}  // namespace qp::check
