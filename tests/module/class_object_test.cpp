// The module's class objects and unload test, through its exports.
#include <windows.h>

#include <gtest/gtest.h>

#include <strmif.h>

#include "filter/class_ids.h"
#include "module/module_harness.h"

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
  EXPECT_EQ(E_NOINTERFACE, Module().DllGetClassObject(kVideoSourceFilterClassId, IID_IPersist, &out));
  EXPECT_EQ(reinterpret_cast<void*>(0x1), out);
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
            Module().DllGetClassObject(IID_IBaseFilter, IID_IClassFactory, &out));
  EXPECT_EQ(nullptr, out);

  for (const CLSID* id : {&kVideoSourceFilterClassId, &kAboutPageClassId}) {
    IUnknown* unknown = nullptr;
    ASSERT_EQ(S_OK, Module().DllGetClassObject(*id, IID_IUnknown, reinterpret_cast<void**>(&unknown)));
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
