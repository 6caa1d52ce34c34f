// The reference-counted, aggregatable base of every framework object a host can hold (filter,
// pins, property page), and the module-wide count of live objects behind DllCanUnloadNow.
#pragma once

#include <unknwn.h>

#include <atomic>

namespace qp::framework {

// Number of ComObjectBase objects alive in the module. Any thread.
LONG ActiveObjectCount();

// Identity and lifetime of a COM object.
//
// Each object has an inner (non-delegating) IUnknown, Inner(), which alone owns the object's
// count, and an owner: the outer object when aggregated, else the inner IUnknown. Outward
// interfaces of a derived class answer their IUnknown methods by forwarding to the owner
// (QP_IUNKNOWN_FORWARDED_TO_OWNER), so an aggregated object shows the outer identity and count.
//
// A derived class answers its own interfaces in InnerQueryInterface through HandOut and falls
// back to this base. An object that lives inside another and has no count of its own (a pin
// inside its filter) is built without an outer object and replaces InnerAddRef/InnerRelease to
// count on its container; its inner count then stays 0 and the container deletes it.
//
// The counts are interlocked; every method may be called from any thread.
class ComObjectBase {
 public:
  ComObjectBase(const ComObjectBase&) = delete;
  ComObjectBase& operator=(const ComObjectBase&) = delete;

  IUnknown* Inner() { return &inner_; }
  // Not counted: the outer object outlives its aggregated parts.
  IUnknown* Owner() const { return owner_; }

 protected:
  // outer: the controlling object when aggregated, or null.
  explicit ComObjectBase(IUnknown* outer);
  virtual ~ComObjectBase();

  // IUnknown answers only IUnknown (the inner one); derived classes answer their own
  // interfaces first. Null out → E_POINTER; unknown id → *out = null, E_NOINTERFACE.
  virtual HRESULT InnerQueryInterface(REFIID iid, void** out);
  // Return the new count, never below 1 while the object lives.
  virtual ULONG InnerAddRef();
  // Deletes the object when the count reaches 0 and returns 0.
  virtual ULONG InnerRelease();

  // Stores `iface` in *out with a reference added through that interface. Null out → E_POINTER.
  template <typename Interface>
  static HRESULT HandOut(Interface* iface, void** out) {
    if (!out) return E_POINTER;
    *out = iface;
    iface->AddRef();
    return S_OK;
  }

 private:
  // The inner IUnknown: a separate vtable so that a derived class's outward IUnknown methods
  // (which forward to the owner) do not override it.
  class InnerUnknown final : public IUnknown {
   public:
    explicit InnerUnknown(ComObjectBase& object) : object_(object) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
      return object_.InnerQueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return object_.InnerAddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return object_.InnerRelease(); }

   private:
    ComObjectBase& object_;
  };

  InnerUnknown inner_{*this};
  IUnknown* const owner_;  // not counted
  std::atomic<LONG> ref_count_{0};
};

}  // namespace qp::framework

// Declares the IUnknown methods of every outward interface of a class derived from
// ComObjectBase; they forward to the owner. Put it once in each class that adds interfaces.
#define QP_IUNKNOWN_FORWARDED_TO_OWNER                                        \
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { \
    return Owner()->QueryInterface(iid, out);                                 \
  }                                                                           \
  ULONG STDMETHODCALLTYPE AddRef() override { return Owner()->AddRef(); }     \
  ULONG STDMETHODCALLTYPE Release() override { return Owner()->Release(); }
