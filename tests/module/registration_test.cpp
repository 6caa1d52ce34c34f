// Registration of the module in the registry, the filter mapper and the video input device
// category, through its exports and through regsvr32. Every case starts and ends unregistered.
#include <windows.h>

#include <gtest/gtest.h>

#include <strmif.h>
#include <uuids.h>

#include <thread>

#include "filter/class_ids.h"
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

TEST_F(RegistrationTest, FailedRegistrationIsTakenBackWhole) {
  // A thread without COM: the module-wide step initialises COM for itself and succeeds, the
  // device entry needs the caller's COM and fails.
  HRESULT hr = S_OK;
  std::thread([&] { hr = Module().DllRegisterServer(); }).join();
  EXPECT_EQ(CO_E_NOTINITIALIZED, hr);
  ExpectUnregistered();
}

TEST_F(RegistrationTest, Regsvr32RegistersAndUnregisters) {
  const std::wstring path = L"\"" + ModulePath() + L"\"";
  ASSERT_EQ(0, RunRegsvr32(L"/s " + path));
  ExpectRegistered();
  ASSERT_EQ(0, RunRegsvr32(L"/u /s " + path));
  ExpectUnregistered();
}

}  // namespace
}  // namespace qp::test
