#include "device_catalog.h"

#include <oleauto.h>
#include <uuids.h>

#include <cstdio>
#include <cstdlib>

#include "tool_status.h"

namespace qpcap {
namespace {

bool ParseIndex(const std::string& text, int& value) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  value = std::atoi(text.c_str());
  return true;
}

std::wstring FriendlyName(IMoniker* moniker) {
  ComPtr<IPropertyBag> bag;
  if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                    reinterpret_cast<void**>(&bag))))
    return L"?";
  VARIANT value;
  VariantInit(&value);
  std::wstring name = L"?";
  if (SUCCEEDED(bag->Read(L"FriendlyName", &value, nullptr)) && value.vt == VT_BSTR)
    name = value.bstrVal;
  VariantClear(&value);
  return name;
}

}  // namespace

HRESULT ListVideoDevices(std::vector<DeviceEntry>& devices) {
  devices.clear();
  ComPtr<ICreateDevEnum> enumerator;
  HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum, reinterpret_cast<void**>(&enumerator));
  if (FAILED(hr)) return hr;
  ComPtr<IEnumMoniker> monikers;
  hr = enumerator->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
  // S_FALSE and no enumerator: the category is empty.
  if (hr != S_OK || !monikers) return FAILED(hr) ? hr : S_FALSE;
  ComPtr<IMoniker> moniker;
  while (monikers->Next(1, &moniker, nullptr) == S_OK)
    devices.push_back({FriendlyName(moniker.Get()), moniker});
  return devices.empty() ? S_FALSE : S_OK;
}

int FindDevice(const std::string& selector, DeviceEntry& device) {
  std::vector<DeviceEntry> devices;
  const HRESULT hr = ListVideoDevices(devices);
  if (FAILED(hr))
    return Fail(kExitFailure, "cannot list video capture devices: %s", HresultText(hr).c_str());
  if (devices.empty()) return Fail(kExitNoDevice, "no video capture device is registered");
  int index = 0;
  if (selector.empty() || ParseIndex(selector, index)) {
    if (index >= int(devices.size()))
      return Fail(kExitNoDevice, "no video capture device %d (there are %zu)", index,
                  devices.size());
    device = devices[index];
    return kExitOk;
  }
  const std::wstring wanted = Wide(selector);
  for (const DeviceEntry& entry : devices) {
    if (_wcsicmp(entry.friendly_name.c_str(), wanted.c_str()) == 0) {
      device = entry;
      return kExitOk;
    }
  }
  return Fail(kExitNoDevice, "no video capture device named \"%s\" (see: qpcap list)",
              selector.c_str());
}

int OpenDevice(const DeviceEntry& device, ComPtr<IBaseFilter>& filter, ComPtr<IPin>& output) {
  const std::string name = Utf8(device.friendly_name);
  HRESULT hr = device.moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                            reinterpret_cast<void**>(&filter));
  if (FAILED(hr))
    return Fail(kExitFailure, "cannot open \"%s\": %s", name.c_str(), HresultText(hr).c_str());
  ComPtr<IEnumPins> pins;
  hr = filter->EnumPins(&pins);
  if (FAILED(hr))
    return Fail(kExitFailure, "\"%s\" lists no pins: %s", name.c_str(), HresultText(hr).c_str());
  ComPtr<IPin> pin;
  while (pins->Next(1, &pin, nullptr) == S_OK) {
    PIN_DIRECTION direction;
    if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_OUTPUT) {
      output = pin;
      return kExitOk;
    }
  }
  return Fail(kExitFailure, "\"%s\" has no output pin", name.c_str());
}

int ListFormats(IPin* output, std::vector<FormatEntry>& formats) {
  formats.clear();
  ComPtr<IAMStreamConfig> config;
  HRESULT hr = output->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config));
  if (FAILED(hr))
    return Fail(kExitNoFormat, "the device's pin does not list formats (no IAMStreamConfig: %s)",
                HresultText(hr).c_str());
  int count = 0, size = 0;
  hr = config->GetNumberOfCapabilities(&count, &size);
  if (FAILED(hr))
    return Fail(kExitNoFormat, "cannot count the device's formats: %s", HresultText(hr).c_str());
  if (size < int(sizeof(VIDEO_STREAM_CONFIG_CAPS)))
    return Fail(kExitNoFormat, "the device reports %d-byte capabilities, not video ones", size);
  for (int i = 0; i < count; ++i) {
    AM_MEDIA_TYPE* raw = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps{};
    hr = config->GetStreamCaps(i, &raw, reinterpret_cast<BYTE*>(&caps));
    MediaTypePtr type(raw);
    if (FAILED(hr))
      return Fail(kExitFailure, "cannot read format %d: %s", i, HresultText(hr).c_str());
    FormatEntry entry;
    entry.index = i;
    if (!ReadVideoFormat(*type, entry.format))
      return Fail(kExitFailure, "format %d is not a video format the tool can read", i);
    entry.type = std::move(type);
    formats.push_back(std::move(entry));
  }
  return kExitOk;
}

int ChooseFormat(const std::vector<FormatEntry>& formats, const std::string& selector,
                 const FormatEntry*& chosen) {
  int index = 0;
  if (ParseIndex(selector, index)) {
    if (index >= int(formats.size()))
      return Fail(kExitNoFormat, "no format %d: the device has %zu (0 to %zu)", index,
                  formats.size(), formats.empty() ? 0 : formats.size() - 1);
    chosen = &formats[index];
    return kExitOk;
  }
  int width = 0, height = 0;
  char tail = 0;
  if (std::sscanf(selector.c_str(), "%dx%d%c", &width, &height, &tail) != 2)
    return Fail(kExitUsage, "format \"%s\" is neither an index nor WIDTHxHEIGHT", selector.c_str());
  for (const FormatEntry& entry : formats) {
    if (entry.format.width == width && std::abs(entry.format.height) == height) {
      chosen = &entry;
      return kExitOk;
    }
  }
  return Fail(kExitNoFormat, "the device offers no %dx%d format", width, height);
}

}  // namespace qpcap
