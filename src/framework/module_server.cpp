// The module server: class objects, unload test, entry point and registration of a class
// table.
#include "framework/module_server.h"

#include <uuids.h>

#include <atomic>
#include <new>

#include "platform/windows/com_ptr.h"
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
  return FromRegistryError(
      RegSetValueExW(key, value_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes));
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

// Whether HKEY_CLASSES_ROOT\`name` exists; a failure when the registry cannot tell.
HRESULT FindClassesKey(const wchar_t* name, bool& present) {
  RegistryKey key;
  const LONG error = RegOpenKeyExW(HKEY_CLASSES_ROOT, name, 0, KEY_READ, key.Receive());
  present = error == ERROR_SUCCESS;
  return present || error == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(error);
}

// "CLSID\{category}\Instance\<instance>": where the filter mapper keeps a category entry.
// A longer instance name than fits is cut; the mapper's own key would not fit the registry.
void InstanceKeyName(const CLSID& category, const wchar_t* instance, wchar_t (&name)[300]) {
  wchar_t category_key[48];
  ClassKeyName(category, category_key);
  lstrcpyW(name, category_key);
  lstrcatW(name, L"\\Instance\\");
  const int used = lstrlenW(name);
  lstrcpynW(name + used, instance, 300 - used);
}

// COM for one registration call on a thread that may have none. Only a successful
// initialisation is balanced: on a thread already in another apartment (RPC_E_CHANGED_MODE)
// COM is usable as it is and must not be uninitialised here.
class ComForCall {
 public:
  ComForCall() : init_(CoInitialize(nullptr)) {}
  ComForCall(const ComForCall&) = delete;
  ComForCall& operator=(const ComForCall&) = delete;
  ~ComForCall() {
    CoFreeUnusedLibraries();
    if (SUCCEEDED(init_)) CoUninitialize();
  }

 private:
  HRESULT init_;
};

HRESULT CreateMapper(ComPtr<IFilterMapper2>& mapper) {
  return CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                          reinterpret_cast<void**>(&mapper));
}

HRESULT CreateOldMapper(ComPtr<IFilterMapper>& mapper) {
  return CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper,
                          reinterpret_cast<void**>(&mapper));
}

// The older mapper adds pins to what is there, so an earlier registration goes first.
HRESULT RegisterWithOldMapper(IFilterMapper* mapper, const ClassEntry& entry) {
  const CLSID& id = *entry.class_id;
  HRESULT hr = IgnoreMissing(mapper->UnregisterFilter(id));
  if (FAILED(hr)) return hr;
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

HRESULT WriteRegistration(std::span<RegistrationStep* const> steps) {
  // What was there before this call is never taken away, so a failed re-registration leaves
  // a working one as it was.
  constexpr size_t kMaxSteps = 16;
  bool added[kMaxSteps] = {};
  if (steps.size() > kMaxSteps) return E_INVALIDARG;
  HRESULT hr = S_OK;
  size_t done = 0;
  for (; done < steps.size(); ++done) {
    bool present = false;
    hr = steps[done]->Find(present);
    if (FAILED(hr)) break;
    added[done] = !present;
    hr = steps[done]->Write();
    if (FAILED(hr)) {
      // A write may fail half-way; what it left of a new entry goes too.
      ++done;
      break;
    }
  }
  if (SUCCEEDED(hr)) return S_OK;
  while (done-- > 0) {
    if (added[done]) steps[done]->Remove();
  }
  return hr;
}

HRESULT RemoveRegistration(std::span<RegistrationStep* const> steps) {
  // The mirror of WriteRegistration: what stays is always a leading part of the row.
  HRESULT first = S_OK;
  for (size_t i = steps.size(); i-- > 0;) {
    const HRESULT hr = steps[i]->Remove();
    if (SUCCEEDED(hr)) continue;
    if (SUCCEEDED(first)) first = hr;
    bool present = true;
    if (FAILED(steps[i]->Find(present)) || present) return hr;
  }
  return first;
}

HRESULT ClassKeysStep::Find(bool& present) {
  wchar_t key_name[48];
  ClassKeyName(*entry_.class_id, key_name);
  return FindClassesKey(key_name, present);
}

HRESULT ClassKeysStep::Write() {
  return WriteClassKeys(*entry_.class_id, entry_.name, server_path_, L"Both", L"InprocServer32");
}

HRESULT ClassKeysStep::Remove() { return DeleteClassKeys(*entry_.class_id); }

// Where either mapper keeps the general registration.
HRESULT DefaultCategoryStep::Find(bool& present) {
  wchar_t class_text[40];
  StringFromGUID2(*entry_.class_id, class_text, 40);
  wchar_t key_name[300];
  InstanceKeyName(CLSID_LegacyAmFilterCategory, class_text, key_name);
  HRESULT hr = FindClassesKey(key_name, present);
  if (FAILED(hr) || present) return hr;
  lstrcpyW(key_name, L"Filter\\");
  lstrcatW(key_name, class_text);
  return FindClassesKey(key_name, present);
}

HRESULT DefaultCategoryStep::Write() {
  ComForCall com;
  ComPtr<IFilterMapper2> mapper;
  HRESULT hr = CreateMapper(mapper);
  if (FAILED(hr)) {
    ComPtr<IFilterMapper> old_mapper;
    hr = CreateOldMapper(old_mapper);
    return SUCCEEDED(hr) ? RegisterWithOldMapper(old_mapper.Get(), entry_) : hr;
  }
  // The entry is rewritten in place: removing it first would lose a working one when the
  // write then fails.
  REGFILTER2 record{};
  record.dwVersion = 1;
  record.dwMerit = entry_.setup->merit;
  record.cPins = entry_.setup->pin_count;
  record.rgPins = entry_.setup->pins;
  return mapper->RegisterFilter(*entry_.class_id, entry_.setup->name, nullptr, nullptr, nullptr,
                                &record);
}

HRESULT DefaultCategoryStep::Remove() {
  ComForCall com;
  ComPtr<IFilterMapper2> mapper;
  HRESULT hr = CreateMapper(mapper);
  if (SUCCEEDED(hr)) {
    return IgnoreMissing(mapper->UnregisterFilter(nullptr, nullptr, *entry_.class_id));
  }
  ComPtr<IFilterMapper> old_mapper;
  hr = CreateOldMapper(old_mapper);
  return SUCCEEDED(hr) ? IgnoreMissing(old_mapper->UnregisterFilter(*entry_.class_id)) : hr;
}

HRESULT CategoryEntryStep::Find(bool& present) {
  wchar_t key_name[300];
  InstanceKeyName(category_, name_, key_name);
  return FindClassesKey(key_name, present);
}

HRESULT CategoryEntryStep::Write() {
  ComForCall com;
  ComPtr<IFilterMapper2> mapper;
  const HRESULT hr = CreateMapper(mapper);
  if (FAILED(hr)) return hr;
  return mapper->RegisterFilter(class_id_, name_, nullptr, &category_, name_, &record_);
}

HRESULT CategoryEntryStep::Remove() {
  ComForCall com;
  ComPtr<IFilterMapper2> mapper;
  const HRESULT hr = CreateMapper(mapper);
  if (FAILED(hr)) return hr;
  return mapper->UnregisterFilter(&category_, name_, class_id_);
}

HRESULT ModuleServerPath(wchar_t (&path)[MAX_PATH]) {
  const DWORD length =
      GetModuleFileNameW(static_cast<HMODULE>(platform::OwnModule()), path, MAX_PATH);
  if (length == 0) return LastErrorResult();
  if (length >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  return S_OK;
}

HRESULT WriteClassKeys(const CLSID& class_id, const wchar_t* name, const wchar_t* server_path,
                       const wchar_t* threading_model, const wchar_t* server_kind) {
  wchar_t key_name[48];
  ClassKeyName(class_id, key_name);
  RegistryKey class_key;
  HRESULT hr = FromRegistryError(RegCreateKeyExW(HKEY_CLASSES_ROOT, key_name, 0, nullptr, 0,
                                                 KEY_WRITE, nullptr, class_key.Receive(), nullptr));
  if (FAILED(hr)) return hr;
  hr = SetText(class_key.Get(), nullptr, name);
  if (FAILED(hr)) return hr;

  RegistryKey server_key;
  hr = FromRegistryError(RegCreateKeyExW(class_key.Get(), server_kind, 0, nullptr, 0, KEY_WRITE,
                                         nullptr, server_key.Receive(), nullptr));
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
