// What an application did to the source's frames, from the status lines read out of its
// recording: losses, repeats and reorderings by frame number, the regularity of the
// recording's time stamps, and how far behind the source's clock each frame was recorded.
// Readings that contradict their neighbours and the source's own pacing are set aside first:
// a wrong frame number would invent a loss and a repeat, where no number costs nothing.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "check/status_line_reader.h"

namespace qp::check {

inline constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();

// One frame of the recording, in recording order.
struct FrameRecord {
  int64_t position = 0;       // index in the recording, from 0
  double time_ms = kUnknown;  // the recording's time stamp
  StatusReading reading;
  double psnr = kUnknown;  // background match in dB
  // The background fits another frame number better than the one read: the status line
  // shown is not this frame's (a decoder's stale copy) or was misread.
  bool background_disagrees = false;
};

enum class FrameKind : uint8_t {
  Next,        // the first frame, or the one after the highest number so far
  AfterLoss,   // frames are missing between the highest number so far and this one
  Repeat,      // its number was identified before
  Reordered,   // a number below the highest so far, not seen before
  Inferred,    // unreadable, but its place in a gap of exactly its size gives its number
  Unreadable,  // no trusted reading
};

const char* KindName(FrameKind kind);

struct FrameResult {
  int64_t position = 0;
  double time_ms = kUnknown;
  FrameKind kind = FrameKind::Unreadable;
  bool rejected = false;  // the reader gave a number that did not fit its neighbours
  int64_t frame = -1;     // the number read and trusted; -1 when none
  int64_t placed = -1;    // an inferred frame's number, implied by its gap but never read
  int32_t drops = 0;      // the status line's values, when read and trusted
  bool clock_known = false;
  uint32_t clock_ms = 0;
  double confidence = 0.0;
  double psnr = kUnknown;
  int64_t lost_before = 0;   // frames missing right before this one
  double lag_ms = kUnknown;  // behind the source's clock, relative to the least-behind frame
};

// Frame numbers first..last of which `lost` are missing; fewer than the range holds when
// unreadable frames between its neighbours may be some of them.
struct LossRange {
  int64_t first = 0;
  int64_t last = 0;
  int64_t lost = 0;
};

struct Spread {
  int64_t count = 0;
  double mean = kUnknown;
  double min = kUnknown;
  double max = kUnknown;
  double stddev = kUnknown;
  double p99 = kUnknown;
};

Spread SpreadOf(std::vector<double> values);

struct AnalysisOptions {
  double frame_time_ms = 0.0;  // the source's frame time; 0 or less: no pacing checks
  // Readings at least this confident are kept when only the statistics of their neighbours'
  // clocks speak against them; a hard contradiction still rejects them.
  double strong_confidence = 0.6;
  // The background tells neighbouring frame numbers apart (it scrolls, and readings it
  // contradicted are flagged), so two alike readings side by side are a repeat, not a
  // compressor's copy of the text over a new frame.
  bool background_identifies = false;
};

struct RecordingAnalysis {
  int64_t frames = 0;
  int64_t read = 0;        // trusted readings
  int64_t unreadable = 0;  // no trusted reading (inferred ones included)
  int64_t rejected = 0;    // readings set aside by the neighbour check
  int64_t inferred = 0;

  bool any_identified = false;
  int64_t first_frame = 0;  // lowest and highest identified number
  int64_t last_frame = 0;
  int64_t missing = 0;
  std::vector<LossRange> losses;
  int64_t longest_loss = 0;
  int64_t repeats = 0;
  int64_t reorderings = 0;
  int64_t source_drops = 0;  // frames the source filled a frame time late, whatever held it,
                             // over the identified span

  double frame_time_ms = 0.0;
  Spread intervals;  // between consecutive time stamps
  // Recording time against the source's frame times over the identified frames: the change
  // of (time − number × frame time) from the first to the last, and the fitted rate error.
  bool drift_known = false;
  double drift_ms = 0.0;
  double drift_ppm = 0.0;
  // Recording time minus source clock, less its minimum: how much later than the
  // least-delayed frame each frame was recorded.
  bool lag_known = false;
  std::string lag_note;  // why lag is unknown
  Spread lag;
  Spread psnr;  // over the frames whose reading was not set aside

  std::vector<FrameResult> results;
};

RecordingAnalysis AnalyseRecording(const std::vector<FrameRecord>& records,
                                   const AnalysisOptions& options);

}  // namespace qp::check
