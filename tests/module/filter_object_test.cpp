// The filter as hosts get it from the module: through its class factory, COM and the device
// enumerator.
#include <windows.h>

#include <gtest/gtest.h>

#include <dshow.h>
#include <dvdmedia.h>

#include <cstdlib>
#include <fstream>

#include "filter/class_ids.h"
#include "platform/windows/com_ptr.h"
#include "module/module_harness.h"
#include "support/fake_com.h"

namespace qp::test {
namespace {

using filter::kAboutPageClassId;
using filter::kVideoSourceFilterClassId;
using framework::ComPtr;

template <typename T>
T* Query(IUnknown* object, REFIID iid) {
  T* result = nullptr;
  object->QueryInterface(iid, reinterpret_cast<void**>(&result));
  return result;
}

IBaseFilter* CreateThroughFactory(IUnknown* outer = nullptr, REFIID iid = IID_IBaseFilter) {
  IClassFactory* factory = nullptr;
  if (FAILED(Module().DllGetClassObject(kVideoSourceFilterClassId, IID_IClassFactory,
                                        reinterpret_cast<void**>(&factory)))) {
    return nullptr;
  }
  void* object = nullptr;
  factory->CreateInstance(outer, iid, &object);
  factory->Release();
  return static_cast<IBaseFilter*>(object);
}

class FilterObjectTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void TearDown() override {
    Module().DllUnregisterServer();
    CoUninitialize();
  }
};

TEST_F(FilterObjectTest, IsALiveSourceWithOnePinAndTheAboutPage) {
  IBaseFilter* filter = CreateThroughFactory();
  ASSERT_NE(nullptr, filter);

  CLSID class_id{};
  EXPECT_EQ(S_OK, filter->GetClassID(&class_id));
  EXPECT_EQ(kVideoSourceFilterClassId, class_id);

  ISpecifyPropertyPages* pages = Query<ISpecifyPropertyPages>(filter, IID_ISpecifyPropertyPages);
  ASSERT_NE(nullptr, pages);
  CAUUID list{};
  ASSERT_EQ(S_OK, pages->GetPages(&list));
  ASSERT_EQ(1u, list.cElems);
  EXPECT_EQ(kAboutPageClassId, list.pElems[0]);
  CoTaskMemFree(list.pElems);
  EXPECT_EQ(E_POINTER, pages->GetPages(nullptr));
  pages->Release();
  // The stream configuration belongs to the pin, not the filter.
  EXPECT_EQ(nullptr, Query<IAMStreamConfig>(filter, IID_IAMStreamConfig));

  IEnumPins* pins = nullptr;
  ASSERT_EQ(S_OK, filter->EnumPins(&pins));
  IPin* pin[2] = {};
  ULONG fetched = 0;
  EXPECT_EQ(S_FALSE, pins->Next(2, pin, &fetched));
  ASSERT_EQ(1u, fetched);
  PIN_INFO info{};
  ASSERT_EQ(S_OK, pin[0]->QueryPinInfo(&info));
  EXPECT_STREQ(L"Quor Plemo", info.achName);
  EXPECT_EQ(PINDIR_OUTPUT, info.dir);
  if (info.pFilter) info.pFilter->Release();
  pin[0]->Release();
  pins->Release();

  FILTER_STATE state = State_Running;
  EXPECT_EQ(S_OK, filter->GetState(0, &state));
  EXPECT_EQ(State_Stopped, state);
  ASSERT_EQ(S_OK, filter->Pause());
  EXPECT_EQ(VFW_S_CANT_CUE, filter->GetState(INFINITE, &state));
  EXPECT_EQ(State_Paused, state);
  ASSERT_EQ(S_OK, filter->Run(0));
  EXPECT_EQ(S_OK, filter->GetState(10, &state));
  EXPECT_EQ(State_Running, state);
  EXPECT_EQ(E_POINTER, filter->GetState(0, nullptr));
  EXPECT_EQ(S_OK, filter->Stop());

  EXPECT_EQ(0u, filter->Release());
  EXPECT_EQ(S_OK, Module().DllCanUnloadNow());
}

TEST_F(FilterObjectTest, AggregatedFilterAnswersWithTheOuterIdentity) {
  // An outer object that only counts, to see the aggregated filter defer to it.
  framework::testing::CountingUnknown outer;
  auto* inner = reinterpret_cast<IUnknown*>(CreateThroughFactory(&outer, IID_IUnknown));
  ASSERT_NE(nullptr, inner);
  IBaseFilter* filter = Query<IBaseFilter>(inner, IID_IBaseFilter);
  ASSERT_NE(nullptr, filter);
  EXPECT_EQ(2u, outer.count);  // the interface's reference went to the outer object
  void* out = nullptr;
  EXPECT_EQ(E_NOINTERFACE, filter->QueryInterface(IID_IUnknown, &out));
  filter->Release();
  EXPECT_EQ(1u, outer.count);
  EXPECT_EQ(0u, inner->Release());
  EXPECT_EQ(S_OK, Module().DllCanUnloadNow());
}

// Every filter, its pin and each factory count as live objects: any one left behind keeps the
// module from unloading.
TEST_F(FilterObjectTest, ManyFiltersComeAndGoWithoutResidue) {
  ASSERT_EQ(S_OK, Module().DllRegisterServer());
  for (int i = 0; i < 200; ++i) {
    IBaseFilter* filter = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(kVideoSourceFilterClassId, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
    ASSERT_EQ(0u, filter->Release());
    filter = CreateThroughFactory();
    ASSERT_NE(nullptr, filter);
    ASSERT_EQ(0u, filter->Release());
  }
  EXPECT_EQ(S_OK, Module().DllCanUnloadNow());
}

TEST_F(FilterObjectTest, DeviceMonikerBindsToTheFilter) {
  ASSERT_EQ(S_OK, Module().DllRegisterServer());
  ICreateDevEnum* devices = nullptr;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ICreateDevEnum, reinterpret_cast<void**>(&devices)));
  IEnumMoniker* monikers = nullptr;
  ASSERT_EQ(S_OK, devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0));
  int bound = 0;
  IMoniker* moniker = nullptr;
  while (monikers->Next(1, &moniker, nullptr) == S_OK) {
    IPropertyBag* bag = nullptr;
    VARIANT name;
    VariantInit(&name);
    if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                         reinterpret_cast<void**>(&bag))) &&
        SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR &&
        lstrcmpW(name.bstrVal, L"Quor Plemo") == 0) {
      IBaseFilter* filter = nullptr;
      EXPECT_EQ(S_OK, moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                            reinterpret_cast<void**>(&filter)));
      if (filter) {
        CLSID class_id{};
        filter->GetClassID(&class_id);
        EXPECT_EQ(kVideoSourceFilterClassId, class_id);
        filter->Release();
        ++bound;
      }
    }
    VariantClear(&name);
    if (bag) bag->Release();
    moniker->Release();
  }
  monikers->Release();
  devices->Release();
  EXPECT_EQ(1, bound);
}

// The INI file is looked for beside the module, not beside the program that loads it.
TEST_F(FilterObjectTest, ReadsTheIniFileBesideTheModule) {
  std::wstring ini = ModulePath();
  ini.replace(ini.find_last_of(L'\\') + 1, std::wstring::npos, L"QuorPlemo.ini");
  {
    std::ofstream file(ini.c_str());
    file << "[MAIN]\npreset_num=1\n[PRESET_01]\nenable=1\nw=352\nh=288\n";
  }
  IBaseFilter* filter = CreateThroughFactory();
  DeleteFileW(ini.c_str());
  ASSERT_NE(nullptr, filter);

  ComPtr<IBaseFilter> hold = ComPtr<IBaseFilter>::Adopt(filter);

  ComPtr<IEnumPins> pins;
  ASSERT_EQ(S_OK, filter->EnumPins(&pins));
  ComPtr<IPin> pin;
  ASSERT_EQ(S_OK, pins->Next(1, &pin, nullptr));
  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(S_OK, pin->EnumMediaTypes(&types));
  AM_MEDIA_TYPE* type = nullptr;
  ASSERT_EQ(S_OK, types->Next(1, &type, nullptr));
  LONG width = 0, height = 0;
  if (type->formattype == FORMAT_VideoInfo2) {
    width = reinterpret_cast<VIDEOINFOHEADER2*>(type->pbFormat)->bmiHeader.biWidth;
    height = reinterpret_cast<VIDEOINFOHEADER2*>(type->pbFormat)->bmiHeader.biHeight;
  } else if (type->formattype == FORMAT_VideoInfo) {
    width = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->bmiHeader.biWidth;
    height = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->bmiHeader.biHeight;
  }
  CoTaskMemFree(type->pbFormat);
  CoTaskMemFree(type);
  EXPECT_EQ(352, width);
  EXPECT_EQ(288, std::abs(height));
}

}  // namespace
}  // namespace qp::test
