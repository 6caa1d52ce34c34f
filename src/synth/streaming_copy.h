// Copies written around the processor's caches, for frames far larger than the caches: the
// frame goes straight to the downstream, and the read of each destination line before it is
// written is saved. Small frames stay cached for whoever reads them next.
#pragma once

#include <cstdint>

namespace qp::synth {

// Frames of this many bytes and more are streamed.
constexpr int64_t kStreamingFrameBytes = int64_t{2} << 20;

// True when a frame of `frame_bytes` is written with StreamingCopy on this build.
bool StreamsFrame(int64_t frame_bytes);

// As memcpy of `bytes` (>= 0) bytes between buffers that do not overlap, any alignment. The
// stores are weakly ordered: call EndStreamingCopies before anything else writes to or hands
// out the destination.
void StreamingCopy(uint8_t* out, const uint8_t* from, int64_t bytes);

// Orders every earlier StreamingCopy before the stores and the hand-over that follow.
void EndStreamingCopies();

}  // namespace qp::synth
