// The command-line options the capturing commands share, and the steps they all start with:
// find the device, choose its format, build the graph.
#pragma once

#include <string>

#include "capture_session.h"

namespace qpcap {

struct CommandOptions {
  std::string device;  // -d: index or friendly name; empty for the first device.
  std::string format;  // -f: index or WxH; empty for the pin's current format.
  std::string output;  // -o
  std::string csv;     // --csv
  double seconds = 0;  // -t
  int frame = 0;       // -n, counted from 0.
  bool quiet = false;  // -q: no progress line.
};

// The device filter must outlive the session that holds it in its graph.
struct Capture {
  DeviceEntry device;
  ComPtr<IBaseFilter> source;
  CaptureSession session;
};

// Returns an exit code; on success the session is built and ready to run.
int SetUpCapture(const CommandOptions& options, FrameSink* sink, Capture& capture);

// "<device>: <format>" on stdout, so every run says what it captured.
void PrintCaptureHeader(const char* verb, const Capture& capture);

}  // namespace qpcap
