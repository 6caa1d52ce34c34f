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
  for (auto* c : {&waitBufferUs_, &composeUs_, &waitDueUs_, &deliverUs_}) c->store(0, kRelaxed);
  lateFrames_.store(0, kRelaxed);
  downstreamLateFrames_.store(0, kRelaxed);
  maxSourceLateUs_.store(0, kRelaxed);
  maxDownstreamUs_.store(0, kRelaxed);
}

void WorkerCounters::Add(const FrameTimes& times, int32_t frameTimeUs) {
  const uint64_t index = written_.load(kRelaxed);
  ring_[index % kCapacity] = times;
  written_.store(index + 1, std::memory_order_release);

  Bump(waitBufferUs_, times.waitBufferUs);
  Bump(composeUs_, times.composeUs);
  Bump(waitDueUs_, times.waitDueUs);
  Bump(deliverUs_, times.deliverUs);
  const int32_t source = times.lateUs - times.downstreamUs;
  if (source > maxSourceLateUs_.load(kRelaxed)) maxSourceLateUs_.store(source, kRelaxed);
  if (times.downstreamUs > maxDownstreamUs_.load(kRelaxed))
    maxDownstreamUs_.store(times.downstreamUs, kRelaxed);
  if (times.lateUs > frameTimeUs) {
    Bump(lateFrames_, 1);
    if (times.downstreamUs >= source) Bump(downstreamLateFrames_, 1);
  }
}

uint32_t WorkerCounters::ReadFrames(uint64_t first, FrameTimes* records, uint32_t capacity,
                                    uint64_t* from) const {
  const uint64_t end = written_.load(std::memory_order_acquire);
  // The slot of record end - kCapacity is the one the next Add writes, before it publishes.
  const uint64_t oldestKept = end >= kCapacity ? end - kCapacity + 1 : 0;
  uint64_t begin = first < oldestKept ? oldestKept : first;
  if (begin > end) begin = end;
  uint32_t count = static_cast<uint32_t>(end - begin < capacity ? end - begin : capacity);
  if (records == nullptr) count = 0;
  for (uint32_t i = 0; i < count; ++i)
    std::memcpy(&records[i], &ring_[(begin + i) % kCapacity], sizeof(FrameTimes));
  // Records the worker may have written over while they were copied go.
  std::atomic_thread_fence(std::memory_order_acquire);
  const uint64_t now = written_.load(kRelaxed);
  const uint64_t oldestIntact = now >= kCapacity ? now - kCapacity + 1 : 0;
  uint32_t dropped = 0;
  if (begin < oldestIntact && count > 0) {
    const uint64_t lost = oldestIntact - begin;
    dropped = static_cast<uint32_t>(lost < count ? lost : count);
    std::memmove(records, records + dropped, sizeof(FrameTimes) * (count - dropped));
  }
  if (from) *from = begin + dropped;
  return count - dropped;
}

void WorkerCounters::ReadTotals(StreamTotals& totals) const {
  totals.frames = written_.load(std::memory_order_acquire);
  totals.waitBufferUs = waitBufferUs_.load(kRelaxed);
  totals.composeUs = composeUs_.load(kRelaxed);
  totals.waitDueUs = waitDueUs_.load(kRelaxed);
  totals.deliverUs = deliverUs_.load(kRelaxed);
  totals.lateFrames = lateFrames_.load(kRelaxed);
  totals.downstreamLateFrames = downstreamLateFrames_.load(kRelaxed);
  totals.maxSourceLateUs = maxSourceLateUs_.load(kRelaxed);
  totals.maxDownstreamUs = maxDownstreamUs_.load(kRelaxed);
  totals.startup = {activateUs.load(), commitUs.load(), threadUs.load(), initUs.load(),
                    startUpUs.load(), backgroundUs.load(), glyphsUs.load(),
                    backgroundCached.load(), glyphsCached.load()};
  totals.runCalledAt = runCalledAt.load();
  totals.runSeenAt = runSeenAt.load();
  totals.firstStampedAt = firstStampedAt.load();
}

}  // namespace qp::stream
