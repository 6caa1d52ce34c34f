// The module's class table records and the class factory that DllGetClassObject hands out.
#pragma once

#include <windows.h>

#include <strmif.h>

#include "framework/com_object_base.h"

namespace qp::framework {

// Builds one instance for aggregation under `outer` (may be null) and returns its
// non-delegating IUnknown with no reference yet, or null. May store a failure in *result,
// which arrives preset to S_OK; an object returned with a failure is destroyed by the caller.
using CreateFunction = IUnknown* (*)(IUnknown* outer, HRESULT* result);
// Called at process attach (loading true) and detach (false).
using InitFunction = void (*)(bool loading, const CLSID* class_id);

// A filter's general registration: registered in the platform's default filter category.
struct FilterSetup {
  const wchar_t* name;
  DWORD merit;
  UINT pin_count;
  const REGFILTERPINS* pins;
};

// One creatable class of the module.
struct ClassEntry {
  const wchar_t* name;  // default value of the class key
  const CLSID* class_id;
  CreateFunction create;
  InitFunction init;         // or null
  const FilterSetup* setup;  // or null: not a filter
};

// Creates objects of one ClassEntry. Counts as an active object while it lives, through its
// ComObjectBase, so DllCanUnloadNow answers S_FALSE while a host holds a factory.
// Threads: any; the count is interlocked.
class ModuleClassFactory final : public ComObjectBase, public IClassFactory {
 public:
  // `entry` lives in the module's static class table.
  explicit ModuleClassFactory(const ClassEntry& entry) : ComObjectBase(nullptr), entry_(entry) {}

  QP_IUNKNOWN_FORWARDED_TO_OWNER

  // IClassFactory
  // With an outer object only IID_IUnknown may be asked for (E_NOINTERFACE otherwise). An
  // object whose query for `iid` fails is destroyed again.
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 protected:
  HRESULT InnerQueryInterface(REFIID iid, void** out) override;

 private:
  const ClassEntry& entry_;
};

}  // namespace qp::framework
