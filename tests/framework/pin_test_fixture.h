// The framework tests' common start: COM for the platform's filters and allocators, a filter
// with one output pin, and the check that every object of ours is gone at the end.
#pragma once

#include <gtest/gtest.h>

#include "support/fake_com.h"
#include "fake_filter.h"
#include "framework/com_object_base.h"
#include "platform/windows/com_ptr.h"

namespace qp::framework::testing {

class PinFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    filter = new FakeFilter;
    filter_reference = ComPtr<IBaseFilter>::Adopt(filter);
    pin = filter->AddPin();
  }
  void TearDown() override {
    filter_reference.Reset();
    // A reference left anywhere keeps the filter, and with it the count, above 0.
    EXPECT_EQ(ActiveObjectCount(), 0);
    CoUninitialize();
  }
  ULONG FilterReferences() { return ReferencesOf(filter_reference.Get()); }

  FakeFilter* filter = nullptr;
  ComPtr<IBaseFilter> filter_reference;
  FakeOutputPin* pin = nullptr;
};

}  // namespace qp::framework::testing
