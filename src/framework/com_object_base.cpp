// The object base's counting and the module's active object count.
#include "framework/com_object_base.h"

#include <algorithm>

namespace qp::framework {
namespace {

std::atomic<LONG> active_objects{0};

}  // namespace

LONG ActiveObjectCount() { return active_objects.load(); }

ComObjectBase::ComObjectBase(IUnknown* outer) : owner_(outer ? outer : &inner_) {
  ++active_objects;
}

ComObjectBase::~ComObjectBase() { --active_objects; }

HRESULT ComObjectBase::InnerQueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown) return HandOut(Inner(), out);
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG ComObjectBase::InnerAddRef() {
  const LONG count = ++ref_count_;
  return static_cast<ULONG>(std::max<LONG>(count, 1));
}

ULONG ComObjectBase::InnerRelease() {
  const LONG count = --ref_count_;
  if (count != 0) return static_cast<ULONG>(std::max<LONG>(count, 1));
  // A destructor that hands the object out and releases it again must not reach 0 a second
  // time and delete twice.
  ref_count_ = 1;
  delete this;
  return 0;
}

}  // namespace qp::framework
