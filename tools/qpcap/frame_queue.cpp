#include "frame_queue.h"

#include <chrono>
#include <cstring>
#include <new>
#include <system_error>

namespace qpcap {

FrameQueue::~FrameQueue() { Finish(); }

bool FrameQueue::Start(std::size_t buffer_bytes, std::size_t buffers, Consumer consumer) {
  if (running_ || buffer_bytes == 0 || buffers == 0 || !consumer) return false;
  try {
    buffers_.assign(buffers, std::vector<uint8_t>(buffer_bytes));
    free_.clear();
    for (std::size_t i = buffers; i > 0; --i) free_.push_back(i - 1);
    consumer_ = std::move(consumer);
    finishing_ = false;
    thread_ = std::thread(&FrameQueue::Run, this);
  } catch (const std::bad_alloc&) {
    buffers_.clear();
    return false;
  } catch (const std::system_error&) {
    buffers_.clear();
    return false;
  }
  running_ = true;
  return true;
}

bool FrameQueue::Push(const uint8_t* bytes, std::size_t length, double time_ms) {
  std::unique_lock<std::mutex> hold(lock_);
  if (!running_ || finishing_ || bytes == nullptr || buffers_.empty() ||
      length > buffers_[0].size())
    return false;
  if (free_.empty()) {
    const auto began = std::chrono::steady_clock::now();
    changed_.wait(hold, [&] { return !free_.empty(); });
    held_ms_ +=
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count();
    ++held_pushes_;
    if (finishing_) return false;
  }
  const std::size_t buffer = free_.back();
  free_.pop_back();
  // The buffer is ours alone until it is queued: copied without the lock.
  hold.unlock();
  std::memcpy(buffers_[buffer].data(), bytes, length);
  hold.lock();
  queued_.push_back({buffer, length, time_ms});
  changed_.notify_all();
  return true;
}

void FrameQueue::Run() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    changed_.wait(hold, [&] { return !queued_.empty() || finishing_; });
    if (queued_.empty()) return;  // finishing, and nothing left
    const Item item = queued_.front();
    queued_.pop_front();
    hold.unlock();
    consumer_(buffers_[item.buffer].data(), item.length, item.time_ms);
    hold.lock();
    free_.push_back(item.buffer);
    changed_.notify_all();
  }
}

void FrameQueue::Finish() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (!running_) return;
    finishing_ = true;
  }
  changed_.notify_all();
  thread_.join();
  std::lock_guard<std::mutex> hold(lock_);
  running_ = false;
}

double FrameQueue::HeldMs() const {
  std::lock_guard<std::mutex> hold(lock_);
  return held_ms_;
}

int64_t FrameQueue::HeldPushes() const {
  std::lock_guard<std::mutex> hold(lock_);
  return held_pushes_;
}

}  // namespace qpcap
