#include "live_check.h"

#include <cstdio>
#include <cstdlib>

#include "check/check_ending.h"
#include "check/check_session.h"
#include "check/frame_view.h"
#include "config/module_directory.h"
#include "frame_queue.h"
#include "tool_status.h"

namespace qpcap {
namespace {

// Frames may wait this much memory for the checker: enough for its set-up on the first frames
// at 1080p and 60 fps, little enough for a 32-bit process.
constexpr std::size_t kQueueBytes = sizeof(void*) == 4 ? 96u << 20 : 192u << 20;
constexpr std::size_t kMinQueued = 8;

}  // namespace

struct LiveCheck::State {
  VideoFormat format;
  qp::check::CheckSession session;
  qp::check::CheckReport report;
  std::string error;  // the first frame the session refused
  int64_t unusable = 0;
  int64_t unqueued = 0;  // frames the queue could not take
  // Declared last: ended first, so its thread never outlives the session it feeds.
  FrameQueue queue;
};

LiveCheck::LiveCheck() = default;
LiveCheck::~LiveCheck() = default;

bool LiveCheck::Open(const CommandOptions& options, const VideoFormat& format, std::string& error) {
  state_ = std::make_unique<State>();
  State& s = *state_;
  s.format = format;
  qp::check::SessionSettings settings;
  const qp::check::CheckOptions& checking = options.checking;
  if (checking.install.empty()) {
    char folder[qp::platform::kMaxPath];
    qp::config::ModuleDirectory(folder, qp::platform::OwnModule());
    settings.install_dir = folder;
  } else {
    settings.install_dir = checking.install;
  }
  settings.preset = checking.preset;
  settings.nominal_fps = format.FramesPerSecond();
  if (!s.session.Open(settings, error)) return false;
  // The readers are made now, not on the first frame: hundreds of ms at 1080p.
  if (!s.session.Prepare(format.width, std::abs(format.height), error)) return false;
  qp::check::CheckReport& report = s.report;
  report.recording = "the live stream";
  report.info.container = "live";
  report.info.codec = "uncompressed";
  report.info.pixel_format = format.PixelFormatName();
  report.info.width = format.width;
  report.info.height = std::abs(format.height);
  report.info.nominal_fps = format.FramesPerSecond();
  report.limits = checking.limits;

  const std::size_t frame_bytes = format.ImageSize();
  if (frame_bytes == 0) {
    error = "the connected format gives no frame size";
    return false;
  }
  std::size_t buffers = kQueueBytes / frame_bytes;
  if (buffers < kMinQueued) buffers = kMinQueued;
  const bool started = s.queue.Start(
      frame_bytes, buffers, [&s](const uint8_t* bytes, std::size_t length, double ms) {
        const VideoFormat& f = s.format;
        const qp::check::FrameView view =
            qp::check::ViewOfDib(bytes, length, f.width, f.height, f.compression, f.bit_count);
        if (!qp::check::IsUsable(view)) {
          ++s.unusable;
          return;
        }
        std::string refused;
        if (!s.session.AddFrame(view, ms, refused) && s.error.empty()) s.error = refused;
      });
  if (!started) {
    error = "no memory for the frames waiting to be checked";
    return false;
  }
  return true;
}

// Only a copy on the streaming thread: the check itself runs on the queue's thread.
void LiveCheck::Add(IMediaSample* sample, double arrival_ms) {
  BYTE* data = nullptr;
  const long length = sample->GetActualDataLength();
  State& s = *state_;
  if (FAILED(sample->GetPointer(&data)) || data == nullptr || length <= 0) {
    ++s.unqueued;
    return;
  }
  // A buffer larger than the image (some allocators round up) holds the image first.
  std::size_t bytes = std::size_t(length);
  if (bytes > s.format.ImageSize()) bytes = s.format.ImageSize();
  if (!s.queue.Push(data, bytes, arrival_ms)) ++s.unqueued;
}

void LiveCheck::SetLateAccount(int64_t late, int64_t downstream, int64_t system,
                               int64_t composing) {
  state_->report.late = {late, downstream, system, composing};
}

int LiveCheck::Finish(const CommandOptions& options) {
  State& s = *state_;
  s.queue.Finish();
  std::printf("\n");
  if (s.queue.HeldPushes() > 0)
    std::printf("the check fell behind the stream and held it %.1f ms in all, over %lld frames\n",
                s.queue.HeldMs(), (long long)s.queue.HeldPushes());
  if (!s.error.empty()) return Fail(kExitCheckInput, "check: %s", s.error.c_str());
  if (s.session.frames() == 0)
    return Fail(kExitCheckInput,
                "check: no frame could be checked (%lld in a format it does not read)",
                (long long)(s.unusable + s.unqueued));
  // measure's --csv holds its own figures: the check writes no CSV.
  const qp::check::CheckEnding ending =
      qp::check::EndCheck(s.session, s.report, std::string(), options.checking.json, stdout);
  for (const std::string& e : ending.errors) Fail(kExitOutput, "%s", e.c_str());
  if (ending.outcome == qp::check::CheckOutcome::kNoStatusLine)
    return Fail(kExitCheckInput, "check: no frame's status line could be read");
  return ExitCodeOf(ending.outcome);
}

}  // namespace qpcap
