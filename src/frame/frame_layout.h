// Where a frame's rows go in a sample buffer: the agreed stride and the row order (RGB bottom-up
// or, for a top-down connection, from the other end; 4:2:2 top-down in every connection).
#pragma once

#include <cstddef>
#include <cstdint>

#include "config/preset.h"
#include "synth/frame_buffer.h"

namespace qp::frame {

// Bytes per stored row in the agreed media type: whole pixels padded to 4 bytes.
int64_t AgreedStride(const config::Preset& preset);

// True when the rows are laid out from the other end of the buffer: RGB for a connection that
// agreed on top-down rows (negative biHeight). 4:2:2 is top-down whatever the sign.
bool RowsReversed(const config::Preset& preset, bool top_down_connection);

// Lays frame rows into `buffer` at the agreed stride, in the connection's row order. A buffer
// too small for that stride (a preset chosen after the connection, a stingy allocator) takes
// the rows at the pitch of whole pixels the buffer has room for, narrower if need be: never
// beyond the buffer. False when the preset gives no drawable frame.
bool LayoutFrame(const config::Preset& preset, bool top_down_connection, uint8_t* buffer,
                 std::size_t size, synth::FrameBuffer& frame);

}  // namespace qp::frame
