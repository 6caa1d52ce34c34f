// The class factory over one entry of the module's class table.
#include "framework/class_factory.h"

#include <new>

#include "framework/module_server.h"

namespace qp::framework {

HRESULT ModuleClassFactory::InnerQueryInterface(REFIID iid, void** out) {
  if (iid == IID_IClassFactory) return HandOut(static_cast<IClassFactory*>(this), out);
  return ComObjectBase::InnerQueryInterface(iid, out);
}

HRESULT ModuleClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  // An aggregated object can only hand its outer object the non-delegating IUnknown.
  if (outer && iid != IID_IUnknown) return E_NOINTERFACE;
  if (!entry_.create) return CLASS_E_CLASSNOTAVAILABLE;

  HRESULT result = S_OK;
  IUnknown* object = nullptr;
  try {
    object = entry_.create(outer, &result);
  } catch (const std::bad_alloc&) {
    // An exception must not cross the COM boundary into the host.
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
  if (!object) return FAILED(result) ? result : E_OUTOFMEMORY;

  // The object arrives with a count of 0: this reference is what destroys it on the way out.
  object->AddRef();
  HRESULT hr = FAILED(result) ? result : object->QueryInterface(iid, out);
  object->Release();
  return hr;
}

HRESULT ModuleClassFactory::LockServer(BOOL lock) {
  LockModule(lock != FALSE);
  return S_OK;
}

}  // namespace qp::framework
