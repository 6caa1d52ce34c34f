// Video capture devices as the system device enumerator lists them, and the formats a device's
// output pin reports through IAMStreamConfig.
#pragma once

#include <strmif.h>

#include <string>
#include <vector>

#include "platform/windows/com_ptr.h"
#include "video_format.h"

namespace qpcap {

using qp::framework::ComPtr;

struct DeviceEntry {
  std::wstring friendly_name;
  ComPtr<IMoniker> moniker;
};

struct FormatEntry {
  int index = 0;
  MediaTypePtr type;
  VideoFormat format;
};

// The devices of CLSID_VideoInputDeviceCategory in enumerator order; an empty category is
// S_FALSE with an empty list.
HRESULT ListVideoDevices(std::vector<DeviceEntry>& devices);

// selector: empty for the first device, a decimal index, or a friendly name (case ignored).
// Returns an exit code and prints the reason on failure.
int FindDevice(const std::string& selector, DeviceEntry& device);

// Instantiates the device's filter and finds its first output pin.
int OpenDevice(const DeviceEntry& device, ComPtr<IBaseFilter>& filter, ComPtr<IPin>& output);

// Every capability of the pin, in index order. kExitNoFormat when the pin has no IAMStreamConfig.
int ListFormats(IPin* output, std::vector<FormatEntry>& formats);

// selector: a decimal index, or "WxH" for the first format of that size. Returns an exit code.
int ChooseFormat(const std::vector<FormatEntry>& formats, const std::string& selector,
                 const FormatEntry*& chosen);

}  // namespace qpcap
