// The latency log at each stream start: the file [MAIN] latency_log names, in the user's
// temporary folder. Refusals go to the debugger's output; the stream runs on without a log.
#include <windows.h>

#include <cstdio>

#include "stream/video_stream_pin.h"

namespace qp::stream {
namespace {

// Room for about a thousand lines: the worker writes once per buffer, not per frame.
constexpr int32_t kLatencyLogBytes = 64 * 1024;

const char* RefusalReason(platform::TempLogOpen result) {
  switch (result) {
    case platform::TempLogOpen::kNotAName: return "it is not a plain file name";
    case platform::TempLogOpen::kNotPlainFile:
      return "a link, hard link, folder or device has that name";
    default: return "it cannot be opened for appending";
  }
}

}  // namespace

void VideoStreamPin::OpenLatencyLog() {
  latency_log_.Close();
  if (settings_.latency_log_refused) {
    OutputDebugStringA(
        "Quor Plemo: [MAIN] latency_log refused: not a plain file name (no folder, drive, \"..\","
        " device name or reserved character); no latency log is written\n");
    return;
  }
  if (settings_.latency_log[0] == '\0') return;
  const platform::TempLogOpen result =
      latency_log_.OpenTemp(settings_.latency_log, kLatencyLogBytes);
  if (result == platform::TempLogOpen::kOpened) return;
  char message[256];
  std::snprintf(message, sizeof message,
                "Quor Plemo: latency log %s in the temporary folder refused: %s\n",
                settings_.latency_log, RefusalReason(result));
  OutputDebugStringA(message);
}

}  // namespace qp::stream
