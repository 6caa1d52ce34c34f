// The module server: class objects, unload test, entry point and registration of a class
// table.
#include "framework/module_server.h"

#include <uuids.h>

#include <atomic>
#include <new>

#include "framework/com_ptr.h"
#include "platform/module_location.h"

namespace qp::framework {
namespace {

std::atomic<LONG> server_locks{0};
std::atomic<DWORD> platform_id{1};

constexpr HRESULT kEntryNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

HRESULT FromRegistryError(LONG error) {
  return error == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(error);
}

// The last system error; never a success, even when the system left the code at 0.
HRESULT LastErrorResult() {
  DWORD error = GetLastError();
  return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

class RegistryKey {
 public:
  RegistryKey() = default;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  ~RegistryKey() {
    if (key_) RegCloseKey(key_);
  }
  HKEY Get() const { return key_; }
  HKEY* Receive() { return &key_; }

 private:
  HKEY key_ = nullptr;
};

// "CLSID\{xxxxxxxx-...}".
void ClassKeyName(const CLSID& class_id, wchar_t (&name)[48]) {
  lstrcpyW(name, L"CLSID\\");
  StringFromGUID2(class_id, name + 6, 42);
}

HRESULT SetText(HKEY key, const wchar_t* value_name, const wchar_t* text) {
  DWORD bytes = static_cast<DWORD>((lstrlenW(text) + 1) * sizeof(wchar_t));
  return FromRegistryError(RegSetValueExW(key, value_name, 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(text), bytes));
}

// Depth first: the platform refuses to delete a key that still has subkeys.
LONG DeleteKeyTree(HKEY parent, const wchar_t* name) {
  {
    RegistryKey key;
    LONG error = RegOpenKeyExW(parent, name, 0, KEY_READ | KEY_WRITE, key.Receive());
    if (error != ERROR_SUCCESS) return error;
    for (;;) {
      wchar_t child[256];
      DWORD length = 256;
      // Always index 0: each pass removes the subkey it found.
      error = RegEnumKeyExW(key.Get(), 0, child, &length, nullptr, nullptr, nullptr, nullptr);
      if (error == ERROR_NO_MORE_ITEMS) break;
      if (error != ERROR_SUCCESS) return error;
      error = DeleteKeyTree(key.Get(), child);
      if (error != ERROR_SUCCESS) return error;
    }
  }
  return RegDeleteKeyW(parent, name);
}

HRESULT IgnoreMissing(HRESULT hr) { return hr == kEntryNotFound ? S_OK : hr; }

HRESULT UpdateFilter(IFilterMapper2* mapper, const ClassEntry& entry, bool registering) {
  HRESULT hr = IgnoreMissing(mapper->UnregisterFilter(nullptr, nullptr, *entry.class_id));
  if (FAILED(hr) || !registering) return hr;
  REGFILTER2 record{};
  record.dwVersion = 1;
  record.dwMerit = entry.setup->merit;
  record.cPins = entry.setup->pin_count;
  record.rgPins = entry.setup->pins;
  return mapper->RegisterFilter(*entry.class_id, entry.setup->name, nullptr, nullptr, nullptr,
                                &record);
}

HRESULT UpdateFilter(IFilterMapper* mapper, const ClassEntry& entry, bool registering) {
  const CLSID& id = *entry.class_id;
  HRESULT hr = IgnoreMissing(mapper->UnregisterFilter(id));
  if (FAILED(hr) || !registering) return hr;
  hr = mapper->RegisterFilter(id, entry.setup->name, entry.setup->merit);
  for (UINT p = 0; SUCCEEDED(hr) && p < entry.setup->pin_count; ++p) {
    const REGFILTERPINS& pin = entry.setup->pins[p];
    hr = mapper->RegisterPin(id, pin.strName, pin.bRendered, pin.bOutput, pin.bZero, pin.bMany,
                             pin.clsConnectsToFilter ? *pin.clsConnectsToFilter : GUID_NULL,
                             pin.strConnectsToPin);
    for (UINT t = 0; SUCCEEDED(hr) && t < pin.nMediaTypes; ++t) {
      const REGPINTYPES& type = pin.lpMediaType[t];
      hr = mapper->RegisterPinType(id, pin.strName, *type.clsMajorType, *type.clsMinorType);
    }
  }
  return hr;
}

template <typename Mapper>
HRESULT UpdateFilters(Mapper* mapper, ClassTable table, bool registering) {
  for (const ClassEntry& entry : table) {
    if (!entry.setup) continue;
    HRESULT hr = UpdateFilter(mapper, entry, registering);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

// The filter registrations, with the platform's mapper or, where it has none, the older one.
HRESULT UpdateFilterRegistrations(ClassTable table, bool registering) {
  // Only a successful initialisation is balanced: on a thread already in another apartment
  // (RPC_E_CHANGED_MODE) COM is usable as it is and must not be uninitialised here.
  const HRESULT init = CoInitialize(nullptr);
  HRESULT hr;
  {
    ComPtr<IFilterMapper2> mapper;
    hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                          IID_IFilterMapper2, reinterpret_cast<void**>(&mapper));
    if (SUCCEEDED(hr)) {
      hr = UpdateFilters(mapper.Get(), table, registering);
    } else {
      ComPtr<IFilterMapper> old_mapper;
      hr = CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER,
                            IID_IFilterMapper, reinterpret_cast<void**>(&old_mapper));
      if (SUCCEEDED(hr)) hr = UpdateFilters(old_mapper.Get(), table, registering);
    }
  }
  CoFreeUnusedLibraries();
  if (SUCCEEDED(init)) CoUninitialize();
  return hr;
}

}  // namespace

HRESULT GetModuleClassObject(ClassTable table, REFCLSID class_id, REFIID iid, void** out) {
  if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
  if (!out) return E_POINTER;
  for (const ClassEntry& entry : table) {
    if (*entry.class_id != class_id) continue;
    auto* factory = new (std::nothrow) ModuleClassFactory(entry);
    if (!factory) {
      *out = nullptr;
      return E_OUTOFMEMORY;
    }
    // The query's reference is the factory's first.
    return factory->Inner()->QueryInterface(iid, out);
  }
  *out = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

void LockModule(bool lock) {
  if (lock) {
    ++server_locks;
  } else {
    --server_locks;
  }
}

HRESULT ModuleCanUnloadNow() {
  return server_locks.load() > 0 || ActiveObjectCount() != 0 ? S_FALSE : S_OK;
}

void ModuleEntryPoint(ClassTable table, HINSTANCE module, DWORD reason) {
  platform::SaveOwnModule(module);
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(module);
    platform_id = 1;
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (GetVersionExA(&version)) platform_id = version.dwPlatformId;
    for (const ClassEntry& entry : table) {
      if (entry.init) entry.init(true, entry.class_id);
    }
  } else if (reason == DLL_PROCESS_DETACH) {
    for (const ClassEntry& entry : table) {
      if (entry.init) entry.init(false, entry.class_id);
    }
  }
}

DWORD PlatformId() { return platform_id.load(); }

HRESULT RegisterModuleClasses(ClassTable table, bool registering) {
  wchar_t path[MAX_PATH];
  const DWORD length =
      GetModuleFileNameW(static_cast<HMODULE>(platform::OwnModule()), path, MAX_PATH);
  if (length == 0) return LastErrorResult();
  // A cut path would register a server file that does not exist.
  if (length >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

  if (registering) {
    for (const ClassEntry& entry : table) {
      HRESULT hr = WriteClassKeys(*entry.class_id, entry.name, path, L"Both", L"InprocServer32");
      if (FAILED(hr)) return hr;
    }
  }

  HRESULT hr = UpdateFilterRegistrations(table, registering);
  if (FAILED(hr) || registering) return hr;

  for (const ClassEntry& entry : table) {
    hr = DeleteClassKeys(*entry.class_id);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT WriteClassKeys(const CLSID& class_id, const wchar_t* name, const wchar_t* server_path,
                       const wchar_t* threading_model, const wchar_t* server_kind) {
  wchar_t key_name[48];
  ClassKeyName(class_id, key_name);
  RegistryKey class_key;
  HRESULT hr = FromRegistryError(RegCreateKeyExW(HKEY_CLASSES_ROOT, key_name, 0, nullptr, 0,
                                                 KEY_WRITE, nullptr, class_key.Receive(),
                                                 nullptr));
  if (FAILED(hr)) return hr;
  hr = SetText(class_key.Get(), nullptr, name);
  if (FAILED(hr)) return hr;

  RegistryKey server_key;
  hr = FromRegistryError(RegCreateKeyExW(class_key.Get(), server_kind, 0, nullptr, 0,
                                         KEY_WRITE, nullptr, server_key.Receive(), nullptr));
  if (FAILED(hr)) return hr;
  hr = SetText(server_key.Get(), nullptr, server_path);
  if (FAILED(hr)) return hr;
  return SetText(server_key.Get(), L"ThreadingModel", threading_model);
}

HRESULT DeleteClassKeys(const CLSID& class_id) {
  wchar_t key_name[48];
  ClassKeyName(class_id, key_name);
  const LONG error = DeleteKeyTree(HKEY_CLASSES_ROOT, key_name);
  return error == ERROR_FILE_NOT_FOUND ? S_OK : FromRegistryError(error);
}

}  // namespace qp::framework
