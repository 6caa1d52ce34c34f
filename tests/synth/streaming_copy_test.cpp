// The streamed copy against memcpy: sizes around the streaming threshold and odd ones, every
// alignment of destination and source, and nothing written outside the destination (the
// destination ends its allocation, so the sanitizers see an overrun).
#include "synth/streaming_copy.h"

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace qp::synth {
namespace {

constexpr uint8_t kUntouched = 0xA5;

std::vector<uint8_t> RandomBytes(std::size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(count);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
  return bytes;
}

// Copies `bytes` from `source_offset` into a destination at `out_offset` of an allocation that
// ends with it, and checks it against memcpy and the bytes before it.
::testing::AssertionResult CopiesLikeMemcpy(const std::vector<uint8_t>& source,
                                            std::size_t source_offset, std::size_t out_offset,
                                            std::size_t bytes) {
  std::vector<uint8_t> out(out_offset + bytes, kUntouched);
  StreamingCopy(out.data() + out_offset, source.data() + source_offset,
                static_cast<int64_t>(bytes));
  EndStreamingCopies();
  for (std::size_t i = 0; i < out_offset; ++i) {
    if (out[i] != kUntouched) return ::testing::AssertionFailure() << "byte " << i << " before";
  }
  if (bytes > 0 &&
      std::memcmp(out.data() + out_offset, source.data() + source_offset, bytes) != 0) {
    std::size_t i = 0;
    while (out[out_offset + i] == source[source_offset + i]) ++i;
    return ::testing::AssertionFailure() << "first difference at byte " << i << " of " << bytes;
  }
  return ::testing::AssertionSuccess();
}

TEST(StreamingCopy, FrameSizesAroundTheThresholdEqualMemcpy) {
  const std::size_t threshold = static_cast<std::size_t>(kStreamingFrameBytes);
  const std::size_t sizes[] = {threshold - 1,       threshold,      threshold + 1,
                               threshold + 63,      threshold + 65, 1920 * 1080 * 2 + 17,
                               3 * threshold + 4095};
  const std::vector<uint8_t> source = RandomBytes(3 * threshold + 4095 + 64, 7);
  for (const std::size_t size : sizes) {
    for (const std::size_t out_offset : {0, 1, 8, 15, 16, 33}) {
      for (const std::size_t source_offset : {0, 3, 16, 63}) {
        EXPECT_TRUE(CopiesLikeMemcpy(source, source_offset, out_offset, size))
            << "size " << size << ", destination +" << out_offset << ", source +" << source_offset;
      }
    }
  }
}

// The head up to the destination's 16-byte boundary and the tail after the last 64-byte
// block: short rows of any length meet every split between them.
TEST(StreamingCopy, ShortCopiesAtEveryAlignmentEqualMemcpy) {
  const std::vector<uint8_t> source = RandomBytes(512, 11);
  uint8_t untouched = kUntouched;
  StreamingCopy(&untouched, source.data(), -5);  // a negative count copies nothing
  EXPECT_EQ(untouched, kUntouched);
  for (std::size_t size = 0; size <= 200; ++size) {
    for (std::size_t out_offset = 0; out_offset < 16; ++out_offset) {
      for (const std::size_t source_offset : {0, 1, 5, 16}) {
        EXPECT_TRUE(CopiesLikeMemcpy(source, source_offset, out_offset, size))
            << "size " << size << ", destination +" << out_offset << ", source +" << source_offset;
      }
    }
  }
}

}  // namespace
}  // namespace qp::synth
