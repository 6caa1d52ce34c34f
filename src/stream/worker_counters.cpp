#include "stream/worker_counters.h"

#include <cstring>

namespace qp::stream {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

// One writer: a load and a store, no locked instruction.
template <typename T, typename U>
void Bump(std::atomic<T>& counter, U by) {
  counter.store(counter.load(kRelaxed) + static_cast<T>(by), kRelaxed);
}

}  // namespace

void WorkerCounters::Reset() {
  written_.store(0, std::memory_order_release);
  for (auto* c : {&wait_buffer_us_, &compose_us_, &wait_due_us_, &deliver_us_})
    c->store(0, kRelaxed);
  late_frames_.store(0, kRelaxed);
  downstream_late_frames_.store(0, kRelaxed);
  max_source_late_us_.store(0, kRelaxed);
  max_downstream_us_.store(0, kRelaxed);
}

void WorkerCounters::Add(const FrameTimes& times, int32_t frame_time_us) {
  const uint64_t index = written_.load(kRelaxed);
  ring_[index % kCapacity] = times;
  written_.store(index + 1, std::memory_order_release);

  Bump(wait_buffer_us_, times.wait_buffer_us);
  Bump(compose_us_, times.compose_us);
  Bump(wait_due_us_, times.wait_due_us);
  Bump(deliver_us_, times.deliver_us);
  const int32_t source = times.late_us - times.downstream_us;
  if (source > max_source_late_us_.load(kRelaxed)) max_source_late_us_.store(source, kRelaxed);
  if (times.downstream_us > max_downstream_us_.load(kRelaxed))
    max_downstream_us_.store(times.downstream_us, kRelaxed);
  if (times.late_us > frame_time_us) {
    Bump(late_frames_, 1);
    if (times.downstream_us >= source) Bump(downstream_late_frames_, 1);
  }
}

uint32_t WorkerCounters::ReadFrames(uint64_t first, FrameTimes* records, uint32_t capacity,
                                    uint64_t* from) const {
  const uint64_t end = written_.load(std::memory_order_acquire);
  // The slot of record end - kCapacity is the one the next Add writes, before it publishes.
  const uint64_t oldest_kept = end >= kCapacity ? end - kCapacity + 1 : 0;
  uint64_t begin = first < oldest_kept ? oldest_kept : first;
  if (begin > end) begin = end;
  uint32_t count = static_cast<uint32_t>(end - begin < capacity ? end - begin : capacity);
  if (records == nullptr) count = 0;
  for (uint32_t i = 0; i < count; ++i)
    std::memcpy(&records[i], &ring_[(begin + i) % kCapacity], sizeof(FrameTimes));
  // Records the worker may have written over while they were copied go.
  std::atomic_thread_fence(std::memory_order_acquire);
  const uint64_t now = written_.load(kRelaxed);
  const uint64_t oldest_intact = now >= kCapacity ? now - kCapacity + 1 : 0;
  uint32_t dropped = 0;
  if (begin < oldest_intact && count > 0) {
    const uint64_t lost = oldest_intact - begin;
    dropped = static_cast<uint32_t>(lost < count ? lost : count);
    std::memmove(records, records + dropped, sizeof(FrameTimes) * (count - dropped));
  }
  if (from) *from = begin + dropped;
  return count - dropped;
}

void WorkerCounters::ReadTotals(StreamTotals& totals) const {
  totals.frames = written_.load(std::memory_order_acquire);
  totals.wait_buffer_us = wait_buffer_us_.load(kRelaxed);
  totals.compose_us = compose_us_.load(kRelaxed);
  totals.wait_due_us = wait_due_us_.load(kRelaxed);
  totals.deliver_us = deliver_us_.load(kRelaxed);
  totals.late_frames = late_frames_.load(kRelaxed);
  totals.downstream_late_frames = downstream_late_frames_.load(kRelaxed);
  totals.max_source_late_us = max_source_late_us_.load(kRelaxed);
  totals.max_downstream_us = max_downstream_us_.load(kRelaxed);
  totals.startup = {activate_us.load(), commit_us.load(),         thread_us.load(),
                    init_us.load(),     start_up_us.load(),       background_us.load(),
                    glyphs_us.load(),   background_cached.load(), glyphs_cached.load()};
  totals.run_called_at = run_called_at.load();
  totals.run_seen_at = run_seen_at.load();
  totals.first_stamped_at = first_stamped_at.load();
}

}  // namespace qp::stream
