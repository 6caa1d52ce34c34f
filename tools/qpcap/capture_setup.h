// The command-line options the capturing commands share, and the steps they all start with:
// find the device, choose its format, build the graph.
#pragma once

#include <string>

#include "capture_session.h"
#include "check/check_options.h"

namespace qpcap {

struct CommandOptions {
  std::string device;  // -d: index or friendly name; empty for the first device.
  std::string format;  // -f: index or WxH; empty for the pin's current format.
  std::string output;  // -o
  std::string csv;     // --csv of measure; check's is in `checking`
  double seconds = 0;  // -t
  int frame = 0;       // -n, counted from 0.
  bool quiet = false;  // -q: no progress line.
  // check, and measure --check:
  std::string input;                 // the recording to check
  bool check = false;                // measure --check: check the frames as they arrive
  qp::check::CheckOptions checking;  // --install, --preset, --json, the limits; check's --csv
};

// The device filter must outlive the session that holds it in its graph.
struct Capture {
  DeviceEntry device;
  ComPtr<IBaseFilter> source;
  CaptureSession session;
  int format_index = -1;  // as 'formats' numbers them; -1: the pin's own, not chosen
};

// Returns an exit code; on success the session is built and ready to run.
int SetUpCapture(const CommandOptions& options, FrameSink* sink, Capture& capture);

// "<device>: <format>" on stdout, so every run says what it captured.
void PrintCaptureHeader(const char* verb, const Capture& capture);

}  // namespace qpcap
