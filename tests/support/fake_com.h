// The reference-counted base of the tests' fake COM peers.
#pragma once

#include <windows.h>

#include <unknwn.h>

namespace qp::framework::testing {

// Answers IUnknown and each of `Interfaces` (through __uuidof) and counts references; deletes
// itself at 0. A fake starts with one reference, owned by its creator.
template <typename First, typename... Rest>
class FakeComObject : public First, public Rest... {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == __uuidof(First)) {
      *out = static_cast<First*>(this);
    } else {
      (void)((iid == __uuidof(Rest) && (*out = static_cast<Rest*>(this))) || ...);
    }
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG count = InterlockedDecrement(&references_);
    if (count == 0) delete this;
    return count;
  }
  LONG References() const { return references_; }

 protected:
  virtual ~FakeComObject() = default;

 private:
  LONG references_ = 1;
};

// An IUnknown that only counts its references (from 1) and never deletes itself: the test owns
// it and reads `count` to see who holds it, e.g. as an aggregating outer object.
class CountingUnknown final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++count; }
  ULONG STDMETHODCALLTYPE Release() override { return --count; }
  ULONG count = 1;
};

// The count of any COM object, read by adding and dropping one reference.
inline ULONG ReferencesOf(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

}  // namespace qp::framework::testing
