// Composing a frame from its plan: the background window of each field, the header line and
// the status line, drawn from pictures already in the frame's pixel format.
#pragma once

#include <cstdint>

#include "config/preset.h"
#include "synth/frame_buffer.h"
#include "synth/frame_image.h"

namespace qp::frame {

// The background of frame `frame_number`. False, writing nothing, when the picture has no
// pixels or the frame is unusable.
bool ComposeBackground(const synth::FrameImage& picture, const config::Preset& preset,
                       int32_t origin_y, int32_t frame_number, const synth::FrameBuffer& frame);

// The coded header line at the bottom left.
void DrawHeader(const synth::FrameImage& sheet, const config::Preset& preset,
                const synth::FrameBuffer& frame, const char* header);

// The coded status line at the top right.
void DrawStatus(const synth::FrameImage& sheet, const config::Preset& preset,
                const synth::FrameBuffer& frame, const char* status);

}  // namespace qp::frame
