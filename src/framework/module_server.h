// The in-process server behind the module's exports: class objects, the unload test, the
// entry point's work, and the registration steps (class keys, filter mapper entries).
#pragma once

#include <windows.h>

#include <strmif.h>

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

// One entry of a module's registration that can be looked for, written and removed.
// Registration is a row of these: the class keys first, the category entries that point at
// them after, so that no listed device lacks its class.
class RegistrationStep {
 public:
  // Whether the entry is there now; a failure when that cannot be told.
  virtual HRESULT Find(bool& present) = 0;
  // Writes the entry over any earlier one of the same name.
  virtual HRESULT Write() = 0;
  // Removes the entry; a missing one gives what the platform says about it.
  virtual HRESULT Remove() = 0;

 protected:
  ~RegistrationStep() = default;
};

// Writes `steps` in order. On the first failure removes, newest first, the entries this call
// added (an entry that was there before the call stays, also the one whose write failed) and
// returns that failure.
HRESULT WriteRegistration(std::span<RegistrationStep* const> steps);
// Removes `steps` newest first. A removal that fails but leaves its entry gone (a missing
// device entry gives the mapper's "not found") is carried on past; one whose entry stays, or
// cannot be told gone, keeps every older entry, since it may point at them: a listed device
// whose class keys were removed cannot be created. Returns the failure that stopped it, else
// the first failure, else S_OK.
HRESULT RemoveRegistration(std::span<RegistrationStep* const> steps);

// The class keys of `entry` (WriteClassKeys) with `server_path` (kept by pointer) as the
// in-process server, threading model Both.
class ClassKeysStep final : public RegistrationStep {
 public:
  ClassKeysStep(const ClassEntry& entry, const wchar_t* server_path)
      : entry_(entry), server_path_(server_path) {}
  HRESULT Find(bool& present) override;
  HRESULT Write() override;
  // S_OK when the keys were not there.
  HRESULT Remove() override;

 private:
  const ClassEntry& entry_;
  const wchar_t* server_path_;
};

// The general registration of an entry that has a FilterSetup, in the platform's default
// filter category, through the platform's filter mapper or, where it has none, the older one.
// Initialises COM for each call by itself.
class DefaultCategoryStep final : public RegistrationStep {
 public:
  explicit DefaultCategoryStep(const ClassEntry& entry) : entry_(entry) {}
  HRESULT Find(bool& present) override;
  HRESULT Write() override;
  // S_OK when the filter was not registered.
  HRESULT Remove() override;

 private:
  const ClassEntry& entry_;
};

// A filter's entry named `name` in `category` (for example the video input devices), through
// IFilterMapper2. Like the other steps it initialises COM for the call when the thread has
// none: on the caller's COM alone, an unregistration from such a thread removed the class keys
// but not the device entry, leaving a listed device that cannot be created. All arguments are
// kept by reference.
class CategoryEntryStep final : public RegistrationStep {
 public:
  CategoryEntryStep(const CLSID& class_id, const wchar_t* name, const CLSID& category,
                    const REGFILTER2& record)
      : class_id_(class_id), name_(name), category_(category), record_(record) {}
  HRESULT Find(bool& present) override;
  HRESULT Write() override;
  // A missing entry gives the mapper's answer, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND).
  HRESULT Remove() override;

 private:
  const CLSID& class_id_;
  const wchar_t* name_;
  const CLSID& category_;
  const REGFILTER2& record_;
};

// The module's own file, as the class keys name it. A path that does not fit MAX_PATH is
// refused rather than cut, since a cut one names a file that does not exist.
HRESULT ModuleServerPath(wchar_t (&path)[MAX_PATH]);

// HKEY_CLASSES_ROOT\CLSID\{class_id}, default value `name`, with the subkey `server_kind`
// holding `server_path` and the value ThreadingModel = `threading_model`. A registry error
// comes back as HRESULT_FROM_WIN32.
HRESULT WriteClassKeys(const CLSID& class_id, const wchar_t* name, const wchar_t* server_path,
                       const wchar_t* threading_model, const wchar_t* server_kind);
// Removes HKEY_CLASSES_ROOT\CLSID\{class_id} with everything below it. S_OK when it was not
// there; a key that cannot be removed gives its registry error.
HRESULT DeleteClassKeys(const CLSID& class_id);

}  // namespace qp::framework
