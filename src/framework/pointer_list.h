// A doubly linked list of uncounted object pointers, compared by identity: the pin enumerator's
// record of the pins it has already handed out.
#pragma once

#include <new>

namespace qp::framework {

// The list never dereferences what it holds and takes no references. Allocation failures are
// reported as false instead of thrown, because the callers are COM methods.
template <typename T>
class PointerList {
 public:
  PointerList() = default;
  ~PointerList() { RemoveAll(); }
  PointerList(const PointerList&) = delete;
  PointerList& operator=(const PointerList&) = delete;

  bool AddTail(T* pointer) {
    Node* node = new (std::nothrow) Node{pointer, tail_, nullptr};
    if (!node) return false;
    (tail_ ? tail_->next : head_) = node;
    tail_ = node;
    ++count_;
    return true;
  }

  bool Contains(const T* pointer) const {
    for (const Node* node = head_; node; node = node->next) {
      if (node->pointer == pointer) return true;
    }
    return false;
  }

  void RemoveAll() {
    while (head_) {
      Node* next = head_->next;
      delete head_;
      head_ = next;
    }
    tail_ = nullptr;
    count_ = 0;
  }

  // Replaces the contents with those of `other`, in order. On failure the list is empty.
  bool CopyFrom(const PointerList& other) {
    if (&other == this) return true;
    RemoveAll();
    for (const Node* node = other.head_; node; node = node->next) {
      if (!AddTail(node->pointer)) {
        RemoveAll();
        return false;
      }
    }
    return true;
  }

  int Count() const { return count_; }

 private:
  struct Node {
    T* pointer;
    Node* previous;
    Node* next;
  };

  Node* head_ = nullptr;
  Node* tail_ = nullptr;
  int count_ = 0;
};

}  // namespace qp::framework
