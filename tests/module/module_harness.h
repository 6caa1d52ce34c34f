// The built module loaded as a host loads it, and readers for what its registration
// leaves in the registry and the system device enumerator.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qp::test {

// Full path of the built module, found from this test program's own location.
std::wstring ModulePath();

// The module, loaded for the whole test program (a host keeps it too) with its exports.
struct ModuleExports {
  HRESULT(STDAPICALLTYPE* DllGetClassObject)(REFCLSID, REFIID, void**);
  HRESULT(STDAPICALLTYPE* DllCanUnloadNow)();
  HRESULT(STDAPICALLTYPE* DllRegisterServer)();
  HRESULT(STDAPICALLTYPE* DllUnregisterServer)();
};
const ModuleExports& Module();

// A string value under HKEY_CLASSES_ROOT; nullopt-like: `found` false when absent.
struct RegistryText {
  bool found = false;
  std::wstring text;
};
RegistryText ReadClassesText(const std::wstring& key, const wchar_t* value);
bool ClassesKeyExists(const std::wstring& key);
// "CLSID\{...}".
std::wstring ClassKey(const CLSID& class_id);

// One entry of a device category as the system device enumerator shows it.
struct DeviceEntry {
  std::wstring friendly_name;
  std::wstring class_id;
  std::vector<uint8_t> filter_data;
};
// Needs COM on the calling thread.
std::vector<DeviceEntry> VideoInputDevices();
int CountVideoInputDevices(const std::wstring& name);

// Runs Wine's (or the system's) regsvr32.exe with `arguments` and returns its exit code, or -1
// when it cannot be started.
int RunRegsvr32(const std::wstring& arguments);

}  // namespace qp::test
