// Frames handed from the streaming thread to a thread of their own: the streaming thread only
// copies a frame into a buffer taken before the run, so whatever the consumer does with it
// (setting itself up on the first frame, reading a status line) never holds the stream.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qpcap {

class FrameQueue {
 public:
  // On the queue's thread, one frame at a time, in the order pushed.
  using Consumer = std::function<void(const uint8_t* bytes, std::size_t length, double time_ms)>;

  FrameQueue() = default;
  ~FrameQueue();
  FrameQueue(const FrameQueue&) = delete;
  FrameQueue& operator=(const FrameQueue&) = delete;

  // Before the run: `buffers` buffers of `buffer_bytes` each, touched now so that no page
  // faults fall on the streaming thread, and the consumer's thread. False when the memory or
  // the thread cannot be had.
  bool Start(std::size_t buffer_bytes, std::size_t buffers, Consumer consumer);

  // Streaming thread. Copies the frame and returns; waits only when every buffer is still
  // queued (the consumer is behind by all of them). False, nothing queued, for a frame larger
  // than a buffer or a queue not started or finished.
  bool Push(const uint8_t* bytes, std::size_t length, double time_ms);

  // After the run, never while a Push is under way: waits until every queued frame was
  // consumed, then ends the thread.
  void Finish();

  // How long, in all, Push waited for a free buffer, and how many pushes waited.
  double HeldMs() const;
  int64_t HeldPushes() const;

 private:
  struct Item {
    std::size_t buffer;
    std::size_t length;
    double time_ms;
  };
  void Run();

  std::vector<std::vector<uint8_t>> buffers_;
  std::vector<std::size_t> free_;
  std::deque<Item> queued_;
  Consumer consumer_;
  mutable std::mutex lock_;
  std::condition_variable changed_;
  bool finishing_ = false;
  bool running_ = false;
  double held_ms_ = 0.0;
  int64_t held_pushes_ = 0;
  std::thread thread_;
};

}  // namespace qpcap
