// The object base: counting and deletion with refused queries, aggregation, and counts touched
// from several threads. Objects that count on their container are covered by the pin tests.
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "framework/com_object_base.h"

namespace qp::framework {
namespace {

// An object with one outward interface. Counts its destructions in *destroyed.
class Widget : public ComObjectBase, public IPersist {
 public:
  Widget(IUnknown* outer, int* destroyed, bool touch_self_in_destructor = false)
      : ComObjectBase(outer), destroyed_(destroyed), touch_self_(touch_self_in_destructor) {}
  ~Widget() override {
    ++*destroyed_;
    // What a real object does when it hands itself to a peer during its teardown.
    if (touch_self_) {
      Inner()->AddRef();
      Inner()->Release();
    }
  }

  QP_IUNKNOWN_FORWARDED_TO_OWNER

  // IPersist
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* id) override {
    *id = CLSID_NULL;
    return S_OK;
  }

 protected:
  HRESULT InnerQueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IPersist) return HandOut(static_cast<IPersist*>(this), out);
    return ComObjectBase::InnerQueryInterface(iid, out);
  }

 private:
  int* destroyed_;
  bool touch_self_;
};

// A controlling object that aggregates a Widget and exposes its IPersist as its own.
class Aggregator final : public IUnknown {
 public:
  explicit Aggregator(int* destroyed) : part_(new Widget(this, destroyed)) {
    part_->Inner()->AddRef();
  }
  ~Aggregator() { part_->Inner()->Release(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IPersist) return part_->Inner()->QueryInterface(iid, out);
    if (iid != IID_IUnknown) return E_NOINTERFACE;
    *out = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++count; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --count;
    if (left == 0) delete this;
    return left;
  }

  ULONG count = 1;
  Widget* part_;  // owned through its inner reference
};

TEST(ComObjectLifetime, CountsThroughEveryInterfaceAndDeletesOnceAtZero) {
  const LONG start = ActiveObjectCount();
  int destroyed = 0;
  auto* widget = new Widget(nullptr, &destroyed);
  EXPECT_EQ(ActiveObjectCount(), start + 1);

  IUnknown* unknown = nullptr;
  ASSERT_EQ(widget->Inner()->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)),
            S_OK);
  EXPECT_EQ(unknown, widget->Inner());
  IPersist* persist = nullptr;
  ASSERT_EQ(unknown->QueryInterface(IID_IPersist, reinterpret_cast<void**>(&persist)), S_OK);
  // Identity: every interface answers IUnknown with the same pointer.
  IUnknown* again = nullptr;
  ASSERT_EQ(persist->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&again)), S_OK);
  EXPECT_EQ(again, unknown);
  EXPECT_EQ(again->Release(), 2u);

  // Refused queries add no reference.
  EXPECT_EQ(unknown->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(persist->QueryInterface(IID_IPersist, nullptr), E_POINTER);
  void* out = &destroyed;
  EXPECT_EQ(persist->QueryInterface(IID_IStream, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);

  EXPECT_EQ(persist->Release(), 1u);
  EXPECT_EQ(destroyed, 0);
  EXPECT_EQ(unknown->Release(), 0u);
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(ActiveObjectCount(), start);
}

TEST(ComObjectLifetime, SelfReferenceDuringDestructionDoesNotDeleteAgain) {
  const LONG start = ActiveObjectCount();
  int destroyed = 0;
  auto* widget = new Widget(nullptr, &destroyed, /*touch_self_in_destructor=*/true);
  widget->Inner()->AddRef();
  EXPECT_EQ(widget->Inner()->Release(), 0u);
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(ActiveObjectCount(), start);
}

TEST(ComObjectAggregation, AnswersWithTheOuterIdentityAndCount) {
  const LONG start = ActiveObjectCount();
  int destroyed = 0;
  auto* outer = new Aggregator(&destroyed);

  IPersist* persist = nullptr;
  ASSERT_EQ(outer->QueryInterface(IID_IPersist, reinterpret_cast<void**>(&persist)), S_OK);
  EXPECT_EQ(outer->count, 2u);
  EXPECT_EQ(persist->AddRef(), 3u);
  EXPECT_EQ(persist->Release(), 2u);
  // The inner count still holds only the outer's one reference.
  EXPECT_EQ(outer->part_->Inner()->AddRef(), 2u);
  EXPECT_EQ(outer->part_->Inner()->Release(), 1u);

  IUnknown* identity = nullptr;
  ASSERT_EQ(persist->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, static_cast<IUnknown*>(outer));
  identity->Release();

  persist->Release();
  EXPECT_EQ(destroyed, 0);
  outer->Release();
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(ActiveObjectCount(), start);
}

TEST(ComObjectConcurrency, CountsStayExactUnderParallelUse) {
  const LONG start = ActiveObjectCount();
  int shared_destroyed = 0;
  auto* shared = new Widget(nullptr, &shared_destroyed);
  IPersist* persist = shared;
  persist->AddRef();

  std::vector<std::thread> threads;
  std::vector<int> destroyed(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([persist, count = &destroyed[t]] {
      for (int i = 0; i < 20000; ++i) {
        persist->AddRef();
        persist->Release();
        if (i % 20 == 0) {
          auto* own = new Widget(nullptr, count);
          own->Inner()->AddRef();
          own->Inner()->Release();
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();

  for (int count : destroyed) EXPECT_EQ(count, 1000);
  EXPECT_EQ(persist->Release(), 0u);
  EXPECT_EQ(shared_destroyed, 1);
  EXPECT_EQ(ActiveObjectCount(), start);
}

}  // namespace
}  // namespace qp::framework
