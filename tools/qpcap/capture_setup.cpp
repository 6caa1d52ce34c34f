#include "capture_setup.h"

#include <cstdio>

#include "tool_status.h"

namespace qpcap {

int SetUpCapture(const CommandOptions& options, FrameSink* sink, Capture& capture) {
  int status = FindDevice(options.device, capture.device);
  if (status != kExitOk) return status;
  ComPtr<IPin> output;
  if ((status = OpenDevice(capture.device, capture.source, output)) != kExitOk) return status;
  std::vector<FormatEntry> formats;
  const FormatEntry* chosen = nullptr;
  if (!options.format.empty()) {
    if ((status = ListFormats(output.Get(), formats)) != kExitOk) return status;
    if ((status = ChooseFormat(formats, options.format, chosen)) != kExitOk) return status;
    capture.format_index = int(chosen - formats.data());
  }
  return capture.session.Build(capture.source.Get(), output.Get(),
                               chosen ? chosen->type.get() : nullptr, sink);
}

void PrintCaptureHeader(const char* verb, const Capture& capture) {
  std::printf("%s \"%s\": %s\n", verb, Utf8(capture.device.friendly_name).c_str(),
              DescribeFormat(capture.session.connected_format()).c_str());
  std::fflush(stdout);
}

}  // namespace qpcap
