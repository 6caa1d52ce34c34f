// One check of one recording: the configuration the source ran with, the preset the recording
// was made from, the readers for its frames, and the analysis once every frame is in. Free of
// any decoder, so that any program that can hand over decoded frames can run it.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "check/background_matcher.h"
#include "check/frame_view.h"
#include "check/recording_analysis.h"
#include "check/status_line_reader.h"
#include "config/stream_configuration.h"
#include "synth/frame_image.h"

namespace qp::check {

struct SessionSettings {
  std::string install_dir;     // the folder holding QuorPlemo.ini and the pictures, or
  std::string ini_path;        // an INI file, the pictures relative to its folder
  int32_t preset = -1;         // index as `qpcap formats` lists it; -1: found from the frames
  double nominal_fps = 0.0;    // the recording's declared rate, to tell like presets apart
  int32_t header_frames = 10;  // frames to look for a readable header line in
  int32_t colour_frames = 8;   // frames whose colour handling is judged
};

struct PresetChoice {
  int32_t index = -1;
  bool header_confirmed = false;  // the header line read from the frames names this preset
  bool scaled = false;            // the recording's size differs from the preset's
  std::string expected_header;    // as the source draws it, clock name included
  std::string read_header;        // the cells read where the header should be
  std::string clock_name;         // "CPU Clock" or "Stream Time" when confirmed
};

struct ColourSummary {
  int32_t frames = 0;                               // frames judged
  ColourHandling likely = ColourHandling::Unknown;  // the commonest verdict
  ColourHandling implied = ColourHandling::Unknown;
  bool matches = false;
  double error[kColourHypotheses] = {-1.0, -1.0, -1.0, -1.0};  // mean over the frames judged
};

class CheckSession {
 public:
  CheckSession();
  ~CheckSession();

  // Reads the INI and checks the preset number. False with a message when there is nothing
  // to check against.
  bool Open(const SessionSettings& settings, std::string& error);

  // Optional, after Open: makes the readers for frames of this size now rather than at the
  // first frame, for a caller that must not spend that time once frames arrive. False with a
  // message when no preset can have drawn frames of this size.
  bool Prepare(int32_t width, int32_t height, std::string& error);

  // One decoded frame, in recording order; `time_ms` is kUnknown when the recording has no
  // time for it. False with a message when no preset can have drawn frames of this size.
  bool AddFrame(const FrameView& frame, double time_ms, std::string& error);

  // The analysis of every frame added so far.
  RecordingAnalysis Finish();

  const config::StreamConfiguration& configuration() const { return configuration_; }
  const std::string& picture_directory() const { return directory_; }
  const PresetChoice& choice() const { return choice_; }
  // The chosen preset; only after a frame was added.
  const config::Preset* preset() const;
  const ColourSummary& colour() const { return colour_; }
  const std::vector<std::string>& warnings() const { return warnings_; }
  int64_t frames() const { return static_cast<int64_t>(records_.size()); }

 private:
  struct Reader;
  struct Candidate {
    int32_t index = 0;
    std::size_t reader = 0;   // in readers_
    std::string expected[2];  // the header with each clock name
  };
  // Frames seen before the preset was settled: their readings by every candidate reader.
  struct Pending {
    double time_ms = kUnknown;
    std::vector<StatusReading> readings;
  };

  bool PrepareCandidates(int32_t width, int32_t height, std::string& error);
  const synth::FrameImage* Sheet(const config::Preset& preset, std::string& error);
  // Compares the frame's header with every candidate's; settles the preset when one fits.
  void TryHeader(const FrameView& frame);
  void Settle(std::size_t candidate, bool confirmed);
  // `frame` is the latest one, compared with each like preset's background; may be null.
  void SettleWithoutHeader(const FrameView* frame);
  void Record(const FrameView* frame, const StatusReading& reading, double time_ms);

  SessionSettings settings_;
  config::StreamConfiguration configuration_;
  std::string directory_;
  bool opened_ = false;
  int32_t width_ = 0;  // the recording's frame size, from its first frame
  int32_t height_ = 0;
  std::map<std::string, std::unique_ptr<synth::FrameImage>> sheets_;
  std::vector<std::unique_ptr<Reader>> readers_;
  std::vector<Candidate> candidates_;
  std::size_t chosen_ = SIZE_MAX;  // in candidates_
  int32_t header_tries_ = 0;
  std::vector<Pending> pending_;
  std::unique_ptr<BackgroundMatcher> matcher_;
  PresetChoice choice_;
  ColourSummary colour_;
  int32_t colour_votes_[kColourHypotheses + 1] = {};
  double colour_error_sum_[kColourHypotheses] = {};
  int32_t colour_error_count_[kColourHypotheses] = {};
  std::vector<FrameRecord> records_;
  std::deque<double> recent_psnr_;  // of the latest frames the background agreed with
  std::vector<std::string> warnings_;
};

// The header line the source draws for `preset`, as plain text.
std::string ExpectedHeader(const config::Preset& preset, bool cpu_clock);

}  // namespace qp::check
