// The live check's hand-over: the streaming thread only copies, whatever the checker does, and
// every frame reaches the checker intact and in order.
#include "frame_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace qpcap {
namespace {

using namespace std::chrono_literals;

// A checker that stops on its first frame until the test lets it go, and keeps what it saw.
struct HeldChecker {
  std::mutex lock;
  std::condition_variable changed;
  bool released = false;
  std::vector<std::vector<uint8_t>> frames;
  std::vector<double> times;

  FrameQueue::Consumer Consumer() {
    return [this](const uint8_t* bytes, std::size_t length, double ms) {
      std::unique_lock<std::mutex> hold(lock);
      changed.wait(hold, [&] { return released; });
      frames.emplace_back(bytes, bytes + length);
      times.push_back(ms);
    };
  }
  void Release() {
    std::lock_guard<std::mutex> hold(lock);
    released = true;
    changed.notify_all();
  }
};

std::vector<uint8_t> Frame(uint8_t n, std::size_t size) {
  std::vector<uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(n + i);
  return bytes;
}

// Pushes `count` frames on a thread of its own, like the streaming thread.
struct Producer {
  std::atomic<int> pushed{0};
  std::atomic<bool> refused{false};
  std::thread thread;

  Producer(FrameQueue& queue, int count, std::size_t size) {
    thread = std::thread([this, &queue, count, size] {
      for (int n = 0; n < count; ++n) {
        const std::vector<uint8_t> bytes = Frame(static_cast<uint8_t>(n), size);
        if (!queue.Push(bytes.data(), bytes.size(), 40.0 * n)) refused = true;
        ++pushed;
      }
    });
  }
  // True when every push returned within the (generous) time.
  bool Done(int count) {
    for (auto waited = 0ms; waited < 30s; waited += 10ms) {
      if (pushed == count) return true;
      std::this_thread::sleep_for(10ms);
    }
    return pushed == count;
  }
  ~Producer() { thread.join(); }
};

TEST(FrameQueue, PushesReturnWhileTheCheckerIsBusyAndEveryFrameArrivesInOrder) {
  HeldChecker checker;
  FrameQueue queue;
  ASSERT_TRUE(queue.Start(1000, 4, checker.Consumer()));
  {
    Producer producer(queue, 4, 1000);
    const bool returned = producer.Done(4);
    checker.Release();  // lets a wrongly waiting producer end before the test fails
    EXPECT_TRUE(returned) << "the streaming thread waited for the checker";
    EXPECT_FALSE(producer.refused);
  }
  queue.Finish();
  ASSERT_EQ(checker.frames.size(), 4u);
  for (int n = 0; n < 4; ++n) {
    EXPECT_EQ(checker.frames[n], Frame(static_cast<uint8_t>(n), 1000)) << n;
    EXPECT_EQ(checker.times[n], 40.0 * n);
  }
  EXPECT_EQ(queue.HeldPushes(), 0);
}

TEST(FrameQueue, AFullQueueHoldsTheStreamUntilABufferIsFreeAndSaysSo) {
  HeldChecker checker;
  FrameQueue queue;
  ASSERT_TRUE(queue.Start(64, 2, checker.Consumer()));
  {
    // The checker holds the first frame's buffer, the second frame the other: the third waits.
    Producer producer(queue, 3, 64);
    for (int i = 0; i < 3000 && producer.pushed < 2; ++i) std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(producer.pushed, 2);
    checker.Release();
    EXPECT_TRUE(producer.Done(3));
  }
  queue.Finish();
  EXPECT_EQ(checker.frames.size(), 3u);
  EXPECT_EQ(queue.HeldPushes(), 1);
  EXPECT_GT(queue.HeldMs(), 0.0);
}

TEST(FrameQueue, RefusesWhatItCannotHold) {
  HeldChecker checker;
  checker.Release();
  FrameQueue queue;
  const std::vector<uint8_t> big(65, 1);
  EXPECT_FALSE(queue.Push(big.data(), 10, 0.0)) << "not started";
  EXPECT_FALSE(queue.Start(0, 2, checker.Consumer()));
  ASSERT_TRUE(queue.Start(64, 2, checker.Consumer()));
  EXPECT_FALSE(queue.Push(big.data(), big.size(), 0.0)) << "larger than a buffer";
  EXPECT_FALSE(queue.Push(nullptr, 10, 0.0));
  EXPECT_TRUE(queue.Push(big.data(), 64, 0.0));
  queue.Finish();
  EXPECT_FALSE(queue.Push(big.data(), 10, 0.0)) << "finished";
  EXPECT_EQ(checker.frames.size(), 1u);
}

}  // namespace
}  // namespace qpcap
