// Loading the module and reading back its registration.
#include "module/module_harness.h"

#include <oleauto.h>
#include <strmif.h>
#include <uuids.h>

#include <cstdlib>

namespace qp::test {
namespace {

template <typename Function>
void Bind(HMODULE module, const char* name, Function& function) {
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  if (!function) std::abort();
}

std::wstring ReadVariantText(IPropertyBag* bag, const wchar_t* name) {
  VARIANT value;
  VariantInit(&value);
  std::wstring text;
  if (SUCCEEDED(bag->Read(name, &value, nullptr)) && value.vt == VT_BSTR) text = value.bstrVal;
  VariantClear(&value);
  return text;
}

std::vector<uint8_t> ReadVariantBytes(IPropertyBag* bag, const wchar_t* name) {
  VARIANT value;
  VariantInit(&value);
  std::vector<uint8_t> bytes;
  if (SUCCEEDED(bag->Read(name, &value, nullptr)) && value.vt == (VT_ARRAY | VT_UI1)) {
    void* data = nullptr;
    if (SUCCEEDED(SafeArrayAccessData(value.parray, &data))) {
      const auto* first = static_cast<const uint8_t*>(data);
      bytes.assign(first, first + value.parray->rgsabound[0].cElements);
      SafeArrayUnaccessData(value.parray);
    }
  }
  VariantClear(&value);
  return bytes;
}

}  // namespace

std::wstring ModulePath() {
  wchar_t exe[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring path(exe, length);
  path.erase(path.find_last_of(L"\\/") + 1);
  for (const char* c = QP_MODULE_RELATIVE_PATH; *c; ++c) path += *c == '/' ? L'\\' : wchar_t(*c);
  // Without the "..\" parts, as the module's own GetModuleFileName reports it.
  wchar_t full[MAX_PATH];
  length = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
  return length > 0 && length < MAX_PATH ? std::wstring(full, length) : path;
}

const ModuleExports& Module() {
  static const ModuleExports exports = [] {
    HMODULE module = LoadLibraryW(ModulePath().c_str());
    if (!module) std::abort();
    ModuleExports e{};
    Bind(module, "DllGetClassObject", e.DllGetClassObject);
    Bind(module, "DllCanUnloadNow", e.DllCanUnloadNow);
    Bind(module, "DllRegisterServer", e.DllRegisterServer);
    Bind(module, "DllUnregisterServer", e.DllUnregisterServer);
    return e;
  }();
  return exports;
}

RegistryText ReadClassesText(const std::wstring& key, const wchar_t* value) {
  wchar_t text[512];
  DWORD bytes = sizeof text;
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), value, RRF_RT_REG_SZ, nullptr, text, &bytes) !=
      ERROR_SUCCESS) {
    return {};
  }
  return {true, text};
}

bool ClassesKeyExists(const std::wstring& key) {
  HKEY handle;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(handle);
  return true;
}

std::wstring ClassKey(const CLSID& class_id) {
  wchar_t text[40];
  StringFromGUID2(class_id, text, 40);
  return std::wstring(L"CLSID\\") + text;
}

std::vector<DeviceEntry> VideoInputDevices() {
  std::vector<DeviceEntry> devices;
  ICreateDevEnum* enumerator_factory = nullptr;
  if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                              IID_ICreateDevEnum, reinterpret_cast<void**>(&enumerator_factory)))) {
    return devices;
  }
  IEnumMoniker* monikers = nullptr;
  // S_FALSE and no enumerator: the category is empty.
  if (enumerator_factory->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) ==
      S_OK) {
    IMoniker* moniker = nullptr;
    while (monikers->Next(1, &moniker, nullptr) == S_OK) {
      IPropertyBag* bag = nullptr;
      if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                           reinterpret_cast<void**>(&bag)))) {
        devices.push_back({ReadVariantText(bag, L"FriendlyName"), ReadVariantText(bag, L"CLSID"),
                           ReadVariantBytes(bag, L"FilterData")});
        bag->Release();
      }
      moniker->Release();
    }
    monikers->Release();
  }
  enumerator_factory->Release();
  return devices;
}

int CountVideoInputDevices(const std::wstring& name) {
  int count = 0;
  for (const DeviceEntry& device : VideoInputDevices()) count += device.friendly_name == name;
  return count;
}

int RunRegsvr32(const std::wstring& arguments) {
  std::wstring command = L"regsvr32.exe " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return -1;
  }
  WaitForSingleObject(process.hProcess, 60000);
  DWORD code = static_cast<DWORD>(-1);
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

}  // namespace qp::test
