// Registration of the module in the registry, the filter mapper and the video input device
// category, through its exports and through regsvr32. Every case starts and ends unregistered.
#include <windows.h>

#include <gtest/gtest.h>

#include <strmif.h>
#include <uuids.h>

#include <algorithm>
#include <array>
#include <optional>
#include <thread>

#include "filter/class_ids.h"
#include "filter/module_registration.h"
#include "platform/windows/com_ptr.h"
#include "framework/module_server.h"
#include "module/module_harness.h"

namespace qp::test {
namespace {

using filter::kAboutPageClassId;
using filter::kVideoSourceFilterClassId;

const wchar_t kName[] = L"Quor Plemo";

std::wstring GuidText(const GUID& id) {
  wchar_t text[40];
  StringFromGUID2(id, text, 40);
  return text;
}

// The general registration in the platform's default filter category.
std::wstring GeneralFilterKey() {
  return ClassKey(CLSID_LegacyAmFilterCategory) + L"\\Instance\\" +
         GuidText(kVideoSourceFilterClassId);
}

uint32_t Dword(const std::vector<uint8_t>& bytes, size_t offset) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value |= uint32_t{bytes[offset + i]} << (8 * i);
  return value;
}

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    // Leftovers of an earlier run must not decide anything here.
    Module().DllUnregisterServer();
    ASSERT_FALSE(ClassesKeyExists(ClassKey(kVideoSourceFilterClassId)));
  }
  void TearDown() override {
    Module().DllUnregisterServer();
    CoUninitialize();
  }

  void ExpectRegistered() {
    for (auto [id, name] : {std::pair{&kVideoSourceFilterClassId, L"Quor Plemo"},
                            std::pair{&kAboutPageClassId, L"QuorPlemo Props"}}) {
      const std::wstring key = ClassKey(*id);
      EXPECT_EQ(name, ReadClassesText(key, nullptr).text);
      const std::wstring server = key + L"\\InprocServer32";
      EXPECT_EQ(0, lstrcmpiW(ModulePath().c_str(), ReadClassesText(server, nullptr).text.c_str()));
      EXPECT_EQ(L"Both", ReadClassesText(server, L"ThreadingModel").text);
    }
    EXPECT_EQ(kName, ReadClassesText(GeneralFilterKey(), L"FriendlyName").text);

    int found = 0;
    for (const DeviceEntry& device : VideoInputDevices()) {
      if (device.friendly_name != kName) continue;
      ++found;
      EXPECT_EQ(GuidText(kVideoSourceFilterClassId), device.class_id);
      // The stored record starts with version, merit and pin count.
      ASSERT_GE(device.filter_data.size(), 12u);
      EXPECT_EQ(uint32_t{MERIT_DO_NOT_USE}, Dword(device.filter_data, 4));
      EXPECT_EQ(1u, Dword(device.filter_data, 8));
    }
    EXPECT_EQ(1, found);
  }

  void ExpectUnregistered() {
    EXPECT_FALSE(ClassesKeyExists(ClassKey(kVideoSourceFilterClassId)));
    EXPECT_FALSE(ClassesKeyExists(ClassKey(kAboutPageClassId)));
    EXPECT_FALSE(ClassesKeyExists(GeneralFilterKey()));
    EXPECT_EQ(0, CountVideoInputDevices(kName));
  }
};

TEST_F(RegistrationTest, RegisteringTwiceLeavesOneRegistrationAndUnregisterRemovesAll) {
  ASSERT_EQ(S_OK, Module().DllRegisterServer());
  ExpectRegistered();
  ASSERT_EQ(S_OK, Module().DllRegisterServer());
  ExpectRegistered();

  EXPECT_EQ(S_OK, Module().DllUnregisterServer());
  ExpectUnregistered();
}

TEST_F(RegistrationTest, UnregisteringWhatIsNotRegisteredReportsTheMissingDevice) {
  const HRESULT hr = Module().DllUnregisterServer();
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), hr) << std::hex << hr;
  ExpectUnregistered();
}

// A thread without COM: every step initialises COM for its call, so neither registering nor
// unregistering stops half-way (the device entry used to fail there after the class keys were
// written or removed, leaving a listed device that could not be created).
TEST_F(RegistrationTest, ThreadWithoutComRegistersAndUnregistersWhole) {
  HRESULT hr = E_FAIL;
  std::thread([&] { hr = Module().DllRegisterServer(); }).join();
  EXPECT_EQ(S_OK, hr);
  ExpectRegistered();
  hr = E_FAIL;
  std::thread([&] { hr = Module().DllUnregisterServer(); }).join();
  EXPECT_EQ(S_OK, hr);
  ExpectUnregistered();
}

TEST_F(RegistrationTest, Regsvr32RegistersAndUnregisters) {
  const std::wstring path = L"\"" + ModulePath() + L"\"";
  ASSERT_EQ(0, RunRegsvr32(L"/s " + path));
  ExpectRegistered();
  ASSERT_EQ(0, RunRegsvr32(L"/u /s " + path));
  ExpectUnregistered();
}

// The module's registration run in-process from the framework's steps, with the module's own
// names, path and records, so that a fault can be put into any one step.

using framework::RegistrationStep;

// Passes every call on, except the one it is told to fail.
class FaultyStep final : public RegistrationStep {
 public:
  enum Fault {
    kNone,
    kWriteFailsBeforeWriting,
    kWriteFailsAfterWriting,
    kRemoveFails,
    kRemoveFailsAfterRemoving
  };
  static constexpr HRESULT kInjected = E_ACCESSDENIED;

  FaultyStep(RegistrationStep& real, Fault fault) : real_(real), fault_(fault) {}
  HRESULT Find(bool& present) override { return real_.Find(present); }
  HRESULT Write() override {
    if (fault_ == kWriteFailsBeforeWriting) return kInjected;
    const HRESULT hr = real_.Write();
    return fault_ == kWriteFailsAfterWriting ? kInjected : hr;
  }
  HRESULT Remove() override {
    if (fault_ == kRemoveFails) return kInjected;
    const HRESULT hr = real_.Remove();
    return fault_ == kRemoveFailsAfterRemoving ? kInjected : hr;
  }

 private:
  RegistrationStep& real_;
  Fault fault_;
};

constexpr size_t kStepCount = 4;

class InjectedRegistrationTest : public RegistrationTest {
 protected:
  // The steps in the module's order, step `faulty` with `fault`.
  std::array<RegistrationStep*, kStepCount> Steps(size_t faulty, FaultyStep::Fault fault) {
    faulty_.emplace(*real_[faulty], fault);
    std::array<RegistrationStep*, kStepCount> steps = real_;
    steps[faulty] = &*faulty_;
    return steps;
  }

  // Which of the four entries are in place now, told from what hosts read.
  std::array<bool, kStepCount> Present() {
    return {ClassesKeyExists(ClassKey(kVideoSourceFilterClassId)),
            ClassesKeyExists(ClassKey(kAboutPageClassId)), ClassesKeyExists(GeneralFilterKey()),
            CountVideoInputDevices(kName) > 0};
  }

  const std::wstring path_ = ModulePath();
  filter::ModuleRegistration module_{path_.c_str()};
  std::array<RegistrationStep*, kStepCount> real_ = [this] {
    std::array<RegistrationStep*, kStepCount> steps{};
    std::copy(module_.Steps().begin(), module_.Steps().end(), steps.begin());
    return steps;
  }();
  std::optional<FaultyStep> faulty_;
};

// What is left after a failure decides whether the undo is right, so each step must see its
// entry as hosts do.
TEST_F(InjectedRegistrationTest, EveryStepFindsItsEntryAsHostsSeeIt) {
  const auto find_all = [&] {
    std::array<bool, kStepCount> found{};
    for (size_t i = 0; i < kStepCount; ++i) EXPECT_EQ(S_OK, real_[i]->Find(found[i]));
    return found;
  };
  EXPECT_EQ((std::array<bool, kStepCount>{}), find_all());
  ASSERT_EQ(S_OK, framework::WriteRegistration(real_));
  ExpectRegistered();
  EXPECT_EQ((std::array<bool, kStepCount>{true, true, true, true}), find_all());
  EXPECT_EQ(S_OK, framework::RemoveRegistration(real_));
  ExpectUnregistered();
  EXPECT_EQ((std::array<bool, kStepCount>{}), find_all());
}

TEST_F(InjectedRegistrationTest, FailureAtAnyStepOfAFirstRegistrationLeavesNothing) {
  for (size_t step = 0; step < kStepCount; ++step) {
    for (auto fault : {FaultyStep::kWriteFailsBeforeWriting, FaultyStep::kWriteFailsAfterWriting}) {
      SCOPED_TRACE(testing::Message() << "step " << step << " fault " << fault);
      EXPECT_EQ(FaultyStep::kInjected, framework::WriteRegistration(Steps(step, fault)));
      ExpectUnregistered();
    }
  }
}

TEST_F(InjectedRegistrationTest, FailureAtAnyStepOfAReRegistrationKeepsTheEarlierOne) {
  ASSERT_EQ(S_OK, Module().DllRegisterServer());
  for (size_t step = 0; step < kStepCount; ++step) {
    for (auto fault : {FaultyStep::kWriteFailsBeforeWriting, FaultyStep::kWriteFailsAfterWriting}) {
      SCOPED_TRACE(testing::Message() << "step " << step << " fault " << fault);
      EXPECT_EQ(FaultyStep::kInjected, framework::WriteRegistration(Steps(step, fault)));
      ExpectRegistered();
    }
  }
}

// Entries left by some earlier, partial registration stay; only what the failed call added
// goes.
TEST_F(InjectedRegistrationTest, FailureRemovesOnlyWhatTheCallAdded) {
  for (size_t before = 0; before < kStepCount; ++before) {
    SCOPED_TRACE(testing::Message() << "entries there before: " << before);
    std::array<bool, kStepCount> expected{};
    for (size_t i = 0; i < before; ++i) {
      ASSERT_EQ(S_OK, real_[i]->Write());
      expected[i] = true;
    }
    EXPECT_EQ(FaultyStep::kInjected, framework::WriteRegistration(Steps(
                                         kStepCount - 1, FaultyStep::kWriteFailsAfterWriting)));
    EXPECT_EQ(expected, Present());
    framework::RemoveRegistration(real_);
  }
}

// An entry that stays keeps every entry before it in the row, which it may point at: a device
// entry that cannot be removed keeps the class keys, so the listed device can still be
// created. The failure is the answer.
TEST_F(InjectedRegistrationTest, AnEntryThatStaysKeepsWhatItPointsAt) {
  for (size_t step = 0; step < kStepCount; ++step) {
    SCOPED_TRACE(testing::Message() << "step " << step);
    ASSERT_EQ(S_OK, Module().DllRegisterServer());
    EXPECT_EQ(FaultyStep::kInjected,
              framework::RemoveRegistration(Steps(step, FaultyStep::kRemoveFails)));
    std::array<bool, kStepCount> expected{};
    for (size_t i = 0; i <= step; ++i) expected[i] = true;
    EXPECT_EQ(expected, Present());
    Module().DllUnregisterServer();
  }
  ASSERT_EQ(S_OK, Module().DllRegisterServer());
  EXPECT_EQ(FaultyStep::kInjected,
            framework::RemoveRegistration(Steps(kStepCount - 1, FaultyStep::kRemoveFails)));
  ExpectRegistered();
  framework::ComPtr<IBaseFilter> filter;
  EXPECT_EQ(S_OK, CoCreateInstance(kVideoSourceFilterClassId, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
}

// What counts is whether the entry is gone: a removal that reports a failure yet took the
// entry away, or a device entry that was not there, does not stop the rest.
TEST_F(InjectedRegistrationTest, AFailedRemovalThatLeftNoEntryGoesOn) {
  for (size_t step = 0; step < kStepCount; ++step) {
    SCOPED_TRACE(testing::Message() << "step " << step);
    ASSERT_EQ(S_OK, Module().DllRegisterServer());
    EXPECT_EQ(FaultyStep::kInjected,
              framework::RemoveRegistration(Steps(step, FaultyStep::kRemoveFailsAfterRemoving)));
    ExpectUnregistered();
  }
  // With the device entry missing its answer comes first, yet everything else still goes.
  for (size_t i = 0; i + 1 < kStepCount; ++i) ASSERT_EQ(S_OK, real_[i]->Write());
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), Module().DllUnregisterServer());
  ExpectUnregistered();
  // A stopping failure is the answer, not the missing device entry before it.
  for (size_t i = 0; i + 1 < kStepCount; ++i) ASSERT_EQ(S_OK, real_[i]->Write());
  EXPECT_EQ(FaultyStep::kInjected,
            framework::RemoveRegistration(Steps(kStepCount - 2, FaultyStep::kRemoveFails)));
  EXPECT_EQ((std::array<bool, kStepCount>{true, true, true, false}), Present());
}

}  // namespace
}  // namespace qp::test
