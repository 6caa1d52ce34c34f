// The in-process server behind the module's exports: class objects, the unload test, the
// entry point's work, and the COM class keys and general filter registration of a class table.
#pragma once

#include <windows.h>

#include <span>

#include "framework/class_factory.h"

namespace qp::framework {

using ClassTable = std::span<const ClassEntry>;

// DllGetClassObject over `table`: IID_IUnknown or IID_IClassFactory only (E_NOINTERFACE,
// *out untouched), CLASS_E_CLASSNOTAVAILABLE for a class not in the table.
HRESULT GetModuleClassObject(ClassTable table, REFCLSID class_id, REFIID iid, void** out);

// LockServer's balance. Any thread.
void LockModule(bool lock);
// DllCanUnloadNow: S_OK when no LockServer lock is held and no framework object lives.
HRESULT ModuleCanUnloadNow();

// DllMain's work. Saves the module handle on every call; at process attach also disables
// thread notifications, records the platform id and runs every entry's init routine; at
// process detach runs them again with loading false.
void ModuleEntryPoint(ClassTable table, HINSTANCE module, DWORD reason);
// VER_PLATFORM_WIN32_NT (2) on every system this module runs on; 1 until the version query
// has answered.
DWORD PlatformId();

// The module-wide registration. Registering writes the class keys of every entry, then
// re-registers every entry that has a FilterSetup in the default filter category (removing
// any earlier registration first, so registering twice leaves one). Unregistering removes
// those filter registrations, then the class keys. Initialises COM for the call by itself.
// Stops at the first failure and returns it; undoing what was done is the caller's choice.
HRESULT RegisterModuleClasses(ClassTable table, bool registering);

// HKEY_CLASSES_ROOT\CLSID\{class_id}, default value `name`, with the subkey `server_kind`
// holding `server_path` and the value ThreadingModel = `threading_model`. A registry error
// comes back as HRESULT_FROM_WIN32.
HRESULT WriteClassKeys(const CLSID& class_id, const wchar_t* name, const wchar_t* server_path,
                       const wchar_t* threading_model, const wchar_t* server_kind);
// Removes HKEY_CLASSES_ROOT\CLSID\{class_id} with everything below it. S_OK when it was not
// there; a key that cannot be removed gives its registry error.
HRESULT DeleteClassKeys(const CLSID& class_id);

}  // namespace qp::framework
