// A filter that owns output pins and counts their references, standing in for the filter base
// the pins are written for; and the video types its pins offer.
#pragma once

#include <strmif.h>

#include <functional>
#include <memory>
#include <vector>

#include "framework/com_object_base.h"
#include "framework/critical_section.h"
#include "framework/media_type.h"
#include "framework/output_pin_base.h"
#include "framework/pin_owner.h"

namespace qp::framework::testing {

// MEDIATYPE_Video with a VIDEOINFOHEADER of the given size and pixel format, fixed-size
// samples of the image size.
void MakeVideoType(MediaType& type, const GUID& subtype, LONG width, LONG height, WORD bits);

class FakeFilter;

// Offers `types` in order and accepts exactly those; sizes buffers for the agreed type.
class FakeOutputPin final : public OutputPinBase {
 public:
  FakeOutputPin(FakeFilter* filter, const wchar_t* name);

  std::vector<std::unique_ptr<MediaType>> types;
  int32_t type_version = 1;
  int size_buffer_calls = 0;
  std::function<void()> during_set_type;  // called in SetType before the type is recorded

  // IPin
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR*) override { return E_NOTIMPL; }

  int32_t TypeVersion() override { return type_version; }
  HRESULT GetOfferedType(int32_t index, MediaType* type) override;
  HRESULT CheckType(const MediaType* type) override;
  HRESULT SetType(const MediaType* type) override;
  HRESULT SizeBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
};

// Created with one reference. Its state changes only record the state: the tests activate
// pins themselves.
class FakeFilter final : public ComObjectBase, public IBaseFilter, public PinOwner {
 public:
  FakeFilter();
  ~FakeFilter() override;

  // Adds a pin that offers one RGB32 type of 64 × 48.
  FakeOutputPin* AddPin(const wchar_t* name = L"Out");

  std::vector<std::unique_ptr<FakeOutputPin>> pins;
  int32_t pin_set_version = 1;
  int32_t reported_pin_count = -1;  // when not -1, PinCount answers it instead of the truth
  FILTER_STATE state = State_Stopped;

  QP_IUNKNOWN_FORWARDED_TO_OWNER

  // IPersist
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) override { return E_NOTIMPL; }
  // IMediaFilter
  HRESULT STDMETHODCALLTYPE Stop() override { return SetState(State_Stopped); }
  HRESULT STDMETHODCALLTYPE Pause() override { return SetState(State_Paused); }
  HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME) override { return SetState(State_Running); }
  HRESULT STDMETHODCALLTYPE GetState(DWORD, FILTER_STATE* out) override;
  HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock**) override { return E_NOTIMPL; }
  // IBaseFilter
  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
  HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR, IPin**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph*, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

  // PinOwner
  IBaseFilter* BaseFilter() override { return this; }
  CriticalSection& FilterLock() override { return lock_; }
  bool IsStarted() override;
  int32_t PinCount() override;
  PinBase* PinAt(int32_t index) override;
  int32_t PinSetVersion() override { return pin_set_version; }

 protected:
  HRESULT InnerQueryInterface(REFIID iid, void** out) override;

 private:
  HRESULT SetState(FILTER_STATE next);

  CriticalSection lock_;
};

}  // namespace qp::framework::testing
