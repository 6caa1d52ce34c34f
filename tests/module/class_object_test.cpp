// The module's class objects and unload test, through its exports.
#include <windows.h>

#include <gtest/gtest.h>

#include <strmif.h>

#include <new>
#include <stdexcept>

#include "filter/class_ids.h"
#include "filter/video_source_filter.h"
#include "framework/module_server.h"
#include "module/module_harness.h"
#include "stream/stream_environment.h"

namespace qp::test {
namespace {

using filter::kAboutPageClassId;
using filter::kVideoSourceFilterClassId;

IClassFactory* GetFactory(const CLSID& class_id) {
  IClassFactory* factory = nullptr;
  EXPECT_EQ(S_OK, Module().DllGetClassObject(class_id, IID_IClassFactory,
                                             reinterpret_cast<void**>(&factory)));
  return factory;
}

TEST(ClassObjectTest, AnswersOnlyItsClassesAndFactoryInterfaces) {
  void* out = reinterpret_cast<void*>(0x1);
  // A wrong interface leaves the out pointer alone.
  EXPECT_EQ(E_NOINTERFACE,
            Module().DllGetClassObject(kVideoSourceFilterClassId, IID_IPersist, &out));
  EXPECT_EQ(reinterpret_cast<void*>(0x1), out);
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
            Module().DllGetClassObject(IID_IBaseFilter, IID_IClassFactory, &out));
  EXPECT_EQ(nullptr, out);

  for (const CLSID* id : {&kVideoSourceFilterClassId, &kAboutPageClassId}) {
    IUnknown* unknown = nullptr;
    ASSERT_EQ(S_OK,
              Module().DllGetClassObject(*id, IID_IUnknown, reinterpret_cast<void**>(&unknown)));
    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, unknown->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    IUnknown* again = nullptr;
    ASSERT_EQ(S_OK, factory->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&again)));
    EXPECT_EQ(unknown, again);
    EXPECT_EQ(E_NOINTERFACE, factory->QueryInterface(IID_IPersist, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_POINTER, factory->QueryInterface(IID_IUnknown, nullptr));
    again->Release();
    factory->Release();
    EXPECT_EQ(0u, unknown->Release());
  }
  EXPECT_EQ(S_OK, Module().DllCanUnloadNow());
}

TEST(ClassObjectTest, CreateInstanceRejectsBadArgumentsBeforeBuilding) {
  IClassFactory* factory = GetFactory(kVideoSourceFilterClassId);
  ASSERT_NE(nullptr, factory);
  EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IUnknown, nullptr));
  // Aggregation can only hand out the inner IUnknown.
  IUnknown* outer = factory;
  void* out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(outer, IID_IClassFactory, &out));
  EXPECT_EQ(nullptr, out);
  factory->Release();
  EXPECT_EQ(S_OK, Module().DllCanUnloadNow());
}

TEST(ClassObjectTest, UnloadWaitsForFactoriesAndServerLocks) {
  ASSERT_EQ(S_OK, Module().DllCanUnloadNow());
  IClassFactory* factory = GetFactory(kAboutPageClassId);
  ASSERT_NE(nullptr, factory);
  EXPECT_EQ(S_FALSE, Module().DllCanUnloadNow());
  EXPECT_EQ(S_OK, factory->LockServer(TRUE));
  EXPECT_EQ(S_OK, factory->LockServer(TRUE));
  EXPECT_EQ(0u, factory->Release());
  EXPECT_EQ(S_FALSE, Module().DllCanUnloadNow());

  // A lock taken through one factory is given back through another.
  factory = GetFactory(kVideoSourceFilterClassId);
  ASSERT_NE(nullptr, factory);
  EXPECT_EQ(S_OK, factory->LockServer(FALSE));
  EXPECT_EQ(S_OK, factory->LockServer(FALSE));
  factory->Release();
  EXPECT_EQ(S_OK, Module().DllCanUnloadNow());
}

TEST(ClassObjectTest, ManyFactoriesComeAndGoWithoutResidue) {
  for (int i = 0; i < 200; ++i) {
    IClassFactory* factory = GetFactory(i % 2 ? kAboutPageClassId : kVideoSourceFilterClassId);
    ASSERT_NE(nullptr, factory);
    factory->AddRef();
    factory->Release();
    ASSERT_EQ(0u, factory->Release());
  }
  EXPECT_EQ(S_OK, Module().DllCanUnloadNow());
}

std::wstring VersionText(const std::vector<BYTE>& block, const wchar_t* name) {
  std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
  void* text = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), query.c_str(), &text, &length) || length == 0) return {};
  return static_cast<const wchar_t*>(text);
}

// The filter built in-process, through the framework's class factory, with a pin whose
// configuration cannot be had in one of the ways that happen: refused, or an exception on the
// way.
class ConfigurationFault final : public stream::StreamEnvironment {
 public:
  enum Kind { kNone, kRefused, kOutOfMemory, kOtherException };
  Kind kind = kNone;
  int loads = 0;

  bool LoadConfiguration(config::StreamConfiguration& settings) override {
    ++loads;
    switch (kind) {
      case kRefused: return false;
      case kOutOfMemory: throw std::bad_alloc();
      case kOtherException: throw std::length_error("preset table");
      case kNone: break;
    }
    return settings.LoadConfigurationFrom("");
  }
  void ModuleDirectory(char (&dest)[platform::kMaxPath]) override {
    System().ModuleDirectory(dest);
  }
  DWORD TickCount() override { return System().TickCount(); }
  int64_t PerformanceCounter() override { return System().PerformanceCounter(); }
  int64_t PerformanceFrequency() override { return System().PerformanceFrequency(); }
  void SleepMs(DWORD milliseconds) override { System().SleepMs(milliseconds); }
  void SleepUs(int64_t microseconds) override { System().SleepUs(microseconds); }
  void SpinPause() override { System().SpinPause(); }
  void PrefetchPages(uint8_t* bytes, std::size_t size) override {
    System().PrefetchPages(bytes, size);
  }
  int64_t ThreadCpuTime() override { return System().ThreadCpuTime(); }
  void BeginTimerPeriod(FineTimer& timer) override { System().BeginTimerPeriod(timer); }
  void EndTimerPeriod(FineTimer& timer) override { System().EndTimerPeriod(timer); }
  void SleepFineUs(const FineTimer& timer, int64_t us) override { System().SleepFineUs(timer, us); }

 private:
  static stream::StreamEnvironment& System() { return stream::SystemStreamEnvironment(); }
};

ConfigurationFault configuration;

IUnknown* CreateWithFault(IUnknown* outer, HRESULT* result) {
  return filter::CreateVideoSourceFilter(outer, result, configuration);
}

const framework::ClassEntry kFaultyClasses[] = {
    {L"Quor Plemo", &kVideoSourceFilterClassId, CreateWithFault, nullptr, nullptr}};

TEST(FilterCreationTest, APinWithoutConfigurationLeavesNothingBehind) {
  const struct {
    ConfigurationFault::Kind kind;
    HRESULT expected;
  } cases[] = {{ConfigurationFault::kNone, S_OK},
               {ConfigurationFault::kRefused, E_OUTOFMEMORY},
               {ConfigurationFault::kOutOfMemory, E_OUTOFMEMORY},
               {ConfigurationFault::kOtherException, E_UNEXPECTED}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "fault " << c.kind);
    configuration.kind = c.kind;
    configuration.loads = 0;
    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, framework::GetModuleClassObject(kFaultyClasses, kVideoSourceFilterClassId,
                                                    IID_IClassFactory,
                                                    reinterpret_cast<void**>(&factory)));
    IBaseFilter* made = reinterpret_cast<IBaseFilter*>(0x1);
    EXPECT_EQ(c.expected,
              factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&made)));
    EXPECT_EQ(1, configuration.loads);
    if (SUCCEEDED(c.expected)) {
      ASSERT_NE(nullptr, made);
      IEnumPins* pins = nullptr;
      ASSERT_EQ(S_OK, made->EnumPins(&pins));
      IPin* pin = nullptr;
      EXPECT_EQ(S_OK, pins->Next(1, &pin, nullptr));
      if (pin) pin->Release();
      pins->Release();
      EXPECT_EQ(0u, made->Release());
    } else {
      EXPECT_EQ(nullptr, made);
    }
    EXPECT_EQ(S_FALSE, framework::ModuleCanUnloadNow());  // the factory still lives
    EXPECT_EQ(0u, factory->Release());
    // The filter and its pin went with the failure.
    EXPECT_EQ(S_OK, framework::ModuleCanUnloadNow());
  }
}

// A caller without a result to read gets no object and nothing stays alive.
TEST(FilterCreationTest, WithoutAResultAFailedFilterIsDestroyedAtOnce) {
  for (auto kind : {ConfigurationFault::kRefused, ConfigurationFault::kOutOfMemory}) {
    configuration.kind = kind;
    EXPECT_EQ(nullptr, filter::CreateVideoSourceFilter(nullptr, nullptr, configuration));
    EXPECT_EQ(S_OK, framework::ModuleCanUnloadNow());
  }
}

TEST(ModuleResourceTest, VersionNamesTheProductAndVersion103) {
  const std::wstring path = ModulePath();
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
  EXPECT_EQ(L"Quor Plemo", VersionText(block, L"ProductName"));
  EXPECT_EQ(L"103", VersionText(block, L"ProductVersion"));
  EXPECT_EQ(L"103", VersionText(block, L"FileVersion"));
}

}  // namespace
}  // namespace qp::test
