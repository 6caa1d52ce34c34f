// An owning pointer to a COM interface. Taking its address releases the old pointer first,
// so `enumerator->Next(1, &pin, nullptr)` in a loop cannot leak; ownership leaves only
// through Detach().
#pragma once

#include <unknwn.h>

#include <utility>

namespace qp::framework {

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Adds a reference of its own.
  explicit ComPtr(T* pointer) : pointer_(pointer) {
    if (pointer_) pointer_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.pointer_) {}
  ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  ~ComPtr() { Reset(); }

  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(pointer_, other.pointer_);
    return *this;
  }

  // Takes over a reference the caller already owns.
  static ComPtr Adopt(T* pointer) {
    ComPtr result;
    result.pointer_ = pointer;
    return result;
  }

  void Reset() {
    if (T* old = std::exchange(pointer_, nullptr)) old->Release();
  }
  T* Detach() { return std::exchange(pointer_, nullptr); }

  T* Get() const { return pointer_; }
  T* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }

  // For out-parameters: releases what is held and hands out the empty slot.
  T** operator&() {
    Reset();
    return &pointer_;
  }

  template <typename U>
  HRESULT As(ComPtr<U>& out) const {
    if (!pointer_) return E_POINTER;
    return pointer_->QueryInterface(__uuidof(U), reinterpret_cast<void**>(&out));
  }

 private:
  T* pointer_ = nullptr;
};

}  // namespace qp::framework
