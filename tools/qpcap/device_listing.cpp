#include "device_listing.h"

#include <cstdio>
#include <cstdlib>

#include "tool_status.h"

namespace qpcap {

int RunListDevices() {
  std::vector<DeviceEntry> devices;
  const HRESULT hr = ListVideoDevices(devices);
  if (FAILED(hr))
    return Fail(kExitFailure, "cannot list video capture devices: %s", HresultText(hr).c_str());
  if (devices.empty()) return Fail(kExitNoDevice, "no video capture device is registered");
  std::printf("video capture devices:\n");
  for (size_t i = 0; i < devices.size(); ++i)
    std::printf("  %zu  %s\n", i, Utf8(devices[i].friendly_name).c_str());
  return kExitOk;
}

int RunListFormats(const CommandOptions& options) {
  DeviceEntry device;
  int status = FindDevice(options.device, device);
  if (status != kExitOk) return status;
  ComPtr<IBaseFilter> filter;
  ComPtr<IPin> output;
  if ((status = OpenDevice(device, filter, output)) != kExitOk) return status;
  std::vector<FormatEntry> formats;
  if ((status = ListFormats(output.Get(), formats)) != kExitOk) return status;
  std::printf("formats of \"%s\":\n", Utf8(device.friendly_name).c_str());
  std::printf("  index  size        pixels  fps      interlace\n");
  for (const FormatEntry& entry : formats) {
    const VideoFormat& f = entry.format;
    char size[24];
    std::snprintf(size, sizeof size, "%dx%d", f.width, std::abs(f.height));
    std::printf("  %5d  %-10s  %-6s  %7.3f  %s\n", entry.index, size, f.PixelFormatName().c_str(),
                f.FramesPerSecond(), f.InterlaceText().c_str());
  }
  return kExitOk;
}

}  // namespace qpcap
