// Streamed copies: SSE2 non-temporal stores where the build has them, memcpy elsewhere.
#include "synth/streaming_copy.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif

namespace qp::synth {

#if defined(__SSE2__)
namespace {
constexpr int64_t kPrefetchAheadBytes = 1024;
}  // namespace

bool StreamsFrame(int64_t frame_bytes) { return frame_bytes >= kStreamingFrameBytes; }

void StreamingCopy(uint8_t* out, const uint8_t* from, int64_t bytes) {
  if (bytes <= 0) return;
  // Up to the first 16-byte boundary of the destination by plain copy.
  const int64_t head = static_cast<int64_t>((16 - (reinterpret_cast<uintptr_t>(out) & 15)) & 15);
  if (head >= bytes) {
    std::memcpy(out, from, static_cast<std::size_t>(bytes));
    return;
  }
  std::memcpy(out, from, static_cast<std::size_t>(head));
  out += head;
  from += head;
  bytes -= head;
  for (; bytes >= 64; bytes -= 64, out += 64, from += 64) {
    // After the worker's sleep between frames the picture is out of the nearer caches; asking
    // for it well ahead keeps enough reads in flight (prefetches never fault past the end).
    _mm_prefetch(reinterpret_cast<const char*>(from) + kPrefetchAheadBytes, _MM_HINT_T0);
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 32));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 48));
    _mm_stream_si128(reinterpret_cast<__m128i*>(out), a);
    _mm_stream_si128(reinterpret_cast<__m128i*>(out + 16), b);
    _mm_stream_si128(reinterpret_cast<__m128i*>(out + 32), c);
    _mm_stream_si128(reinterpret_cast<__m128i*>(out + 48), d);
  }
  std::memcpy(out, from, static_cast<std::size_t>(bytes));
}

void EndStreamingCopies() { _mm_sfence(); }

#else

bool StreamsFrame(int64_t) { return false; }

void StreamingCopy(uint8_t* out, const uint8_t* from, int64_t bytes) {
  if (bytes > 0) std::memcpy(out, from, static_cast<std::size_t>(bytes));
}

void EndStreamingCopies() {}

#endif

}  // namespace qp::synth
