// The pin and media-type enumerators: the Next/Skip/Reset/Clone contract, sources that change
// under an enumerator, and the references an enumerator holds and hands out.
#include <windows.h>

#include <uuids.h>
#include <vfwmsgs.h>

#include <gtest/gtest.h>

#include "pin_test_fixture.h"

namespace qp::framework::testing {
namespace {

class PinEnumeratorTest : public PinFixture {
 protected:
  ComPtr<IEnumPins> Enumerate() {
    ComPtr<IEnumPins> pins;
    EXPECT_EQ(filter->EnumPins(&pins), S_OK);
    return pins;
  }
};

TEST_F(PinEnumeratorTest, NextAndSkipStopAtTheLastPin) {
  ComPtr<IEnumPins> pins = Enumerate();
  ComPtr<IPin> got;
  EXPECT_EQ(pins->Next(1, nullptr, nullptr), E_POINTER);
  EXPECT_EQ(pins->Next(2, &got, nullptr), E_INVALIDARG);
  ASSERT_EQ(pins->Next(1, &got, nullptr), S_OK);
  EXPECT_EQ(got.Get(), static_cast<IPin*>(pin));
  EXPECT_EQ(pins->Next(1, &got, nullptr), S_FALSE);
  EXPECT_FALSE(got);

  EXPECT_EQ(pins->Reset(), S_OK);
  EXPECT_EQ(pins->Skip(1), S_OK);
  EXPECT_EQ(pins->Skip(1), S_FALSE);
  EXPECT_EQ(pins->Skip(0xFFFFFFFF), S_FALSE);
  EXPECT_EQ(pins->Next(1, &got, nullptr), S_FALSE);
}

TEST_F(PinEnumeratorTest, CloneContinuesOnItsOwn) {
  FakeOutputPin* second = filter->AddPin(L"Second");
  ComPtr<IEnumPins> pins = Enumerate();
  ComPtr<IPin> got;
  ASSERT_EQ(pins->Next(1, &got, nullptr), S_OK);
  ComPtr<IEnumPins> clone;
  ASSERT_EQ(pins->Clone(&clone), S_OK);

  ASSERT_EQ(clone->Next(1, &got, nullptr), S_OK);
  EXPECT_EQ(got.Get(), static_cast<IPin*>(second));
  EXPECT_EQ(clone->Next(1, &got, nullptr), S_FALSE);
  ASSERT_EQ(pins->Next(1, &got, nullptr), S_OK);
  EXPECT_EQ(got.Get(), static_cast<IPin*>(second));
}

// A changed pin set: Next starts over but does not hand out a pin twice; Skip and Clone refuse.
TEST_F(PinEnumeratorTest, ChangedPinSetIsResynchronisedByNextOnly) {
  FakeOutputPin* second = filter->AddPin(L"Second");
  ComPtr<IEnumPins> pins = Enumerate();
  ComPtr<IPin> got[2];
  ASSERT_EQ(pins->Next(1, &got[0], nullptr), S_OK);
  ++filter->pin_set_version;

  EXPECT_EQ(pins->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
  IEnumPins* clone = reinterpret_cast<IEnumPins*>(1);
  EXPECT_EQ(pins->Clone(&clone), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(clone, nullptr);

  IPin* fetched_pins[2] = {};
  ULONG fetched = 99;
  EXPECT_EQ(pins->Next(2, fetched_pins, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  got[1] = ComPtr<IPin>::Adopt(fetched_pins[0]);
  EXPECT_EQ(got[1].Get(), static_cast<IPin*>(second));

  ASSERT_EQ(pins->Reset(), S_OK);
  EXPECT_EQ(pins->Next(2, fetched_pins, &fetched), S_OK);
  EXPECT_EQ(fetched, 2u);
  for (IPin* each : fetched_pins) each->Release();
}

// A pin that is gone although the count still promises it: nothing handed out in that call may
// stay counted, since the caller of a failed Next releases nothing.
TEST_F(PinEnumeratorTest, VanishedPinLeavesNoReferenceBehind) {
  filter->AddPin(L"Second");
  filter->reported_pin_count = 3;
  ComPtr<IEnumPins> pins = Enumerate();
  const ULONG before = FilterReferences();
  IPin* fetched_pins[3] = {};
  ULONG fetched = 99;
  EXPECT_EQ(pins->Next(3, fetched_pins, &fetched), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(fetched_pins[0], nullptr);
  EXPECT_EQ(FilterReferences(), before);
}

// The enumerator and every pin it hands out count on the filter, which outlives its creator's
// reference until they are released (TearDown checks that nothing remains).
TEST_F(PinEnumeratorTest, EnumeratorAndPinsKeepTheFilterAlive) {
  const ULONG alone = FilterReferences();
  ComPtr<IEnumPins> pins = Enumerate();
  EXPECT_EQ(FilterReferences(), alone + 1);
  ComPtr<IPin> got;
  ASSERT_EQ(pins->Next(1, &got, nullptr), S_OK);
  EXPECT_EQ(FilterReferences(), alone + 2);

  ComPtr<IUnknown> identity;
  EXPECT_EQ(pins->QueryInterface(IID_IEnumMediaTypes, reinterpret_cast<void**>(&identity)),
            E_NOINTERFACE);
  EXPECT_FALSE(identity);

  filter_reference.Reset();
  ASSERT_EQ(pins->Reset(), S_OK);
  EXPECT_EQ(pins->Next(1, &got, nullptr), S_OK);
  got.Reset();
  pins.Reset();
  EXPECT_EQ(ActiveObjectCount(), 0);
}

class MediaTypeEnumeratorTest : public PinFixture {
 protected:
  void SetUp() override {
    PinFixture::SetUp();
    auto second = std::make_unique<MediaType>();
    MakeVideoType(*second, MEDIASUBTYPE_RGB24, 64, 48, 24);
    pin->types.push_back(std::move(second));
    ASSERT_EQ(pin->EnumMediaTypes(&types), S_OK);
  }
  void TearDown() override {
    types.Reset();
    PinFixture::TearDown();
  }
  // Next of one type: its result, and whether the record equals the pin's type at `index`.
  HRESULT NextIs(size_t index) {
    AM_MEDIA_TYPE* record = nullptr;
    ULONG fetched = 99;
    const HRESULT hr = types->Next(1, &record, &fetched);
    if (hr == S_OK) {
      EXPECT_TRUE(TypesEqual(*record, *pin->types.at(index)));
      // A copy of its own: the caller frees it.
      EXPECT_NE(record->pbFormat, pin->types.at(index)->pbFormat);
      DeleteType(record);
    } else {
      EXPECT_EQ(fetched, 0u);
    }
    return hr;
  }
  ComPtr<IEnumMediaTypes> types;
};

TEST_F(MediaTypeEnumeratorTest, NextPastTheEndUntilReset) {
  EXPECT_EQ(types->Next(1, nullptr, nullptr), E_POINTER);
  AM_MEDIA_TYPE* records[3] = {};
  EXPECT_EQ(types->Next(2, records, nullptr), E_INVALIDARG);
  EXPECT_EQ(NextIs(0), S_OK);

  ULONG fetched = 99;
  EXPECT_EQ(types->Next(3, records, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  EXPECT_TRUE(TypesEqual(*records[0], *pin->types[1]));
  DeleteType(records[0]);
  EXPECT_EQ(NextIs(0), S_FALSE);

  ASSERT_EQ(types->Reset(), S_OK);
  EXPECT_EQ(NextIs(0), S_OK);
}

// A huge count must not wrap the position round to a valid index.
TEST_F(MediaTypeEnumeratorTest, SkipBeyondTheEndStaysThere) {
  EXPECT_EQ(types->Skip(0), S_OK);
  EXPECT_EQ(types->Skip(2), S_OK);
  EXPECT_EQ(NextIs(0), S_FALSE);
  ASSERT_EQ(types->Reset(), S_OK);
  EXPECT_EQ(types->Skip(3), S_FALSE);
  EXPECT_EQ(NextIs(0), S_FALSE);
  ASSERT_EQ(types->Reset(), S_OK);
  ASSERT_EQ(types->Skip(1), S_OK);
  EXPECT_EQ(types->Skip(0xFFFFFFFF), S_FALSE);
  EXPECT_EQ(NextIs(0), S_FALSE);
}

TEST_F(MediaTypeEnumeratorTest, CloneContinuesOnItsOwn) {
  ASSERT_EQ(NextIs(0), S_OK);
  ComPtr<IEnumMediaTypes> clone;
  ASSERT_EQ(types->Clone(&clone), S_OK);
  ASSERT_EQ(NextIs(1), S_OK);
  EXPECT_EQ(NextIs(0), S_FALSE);
  types = clone;
  EXPECT_EQ(NextIs(1), S_OK);
}

TEST_F(MediaTypeEnumeratorTest, ChangedTypeListIsRefusedUntilReset) {
  ++pin->type_version;
  AM_MEDIA_TYPE* record = nullptr;
  EXPECT_EQ(types->Next(1, &record, nullptr), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(types->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
  IEnumMediaTypes* clone = reinterpret_cast<IEnumMediaTypes*>(1);
  EXPECT_EQ(types->Clone(&clone), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(clone, nullptr);
  ASSERT_EQ(types->Reset(), S_OK);
  EXPECT_EQ(NextIs(0), S_OK);
}

TEST_F(MediaTypeEnumeratorTest, EnumeratorKeepsThePinsFilterAlive) {
  ComPtr<IUnknown> identity;
  ASSERT_EQ(types->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(types.Get()));
  identity.Reset();

  filter_reference.Reset();
  EXPECT_GT(ActiveObjectCount(), 0);
  EXPECT_EQ(NextIs(0), S_OK);
  types.Reset();
  EXPECT_EQ(ActiveObjectCount(), 0);
}

}  // namespace
}  // namespace qp::framework::testing
