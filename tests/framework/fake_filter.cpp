// The test filter and its pins.
#include "fake_filter.h"

#include <amvideo.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include "framework/pin_enumerator.h"

namespace qp::framework::testing {

void MakeVideoType(MediaType& type, const GUID& subtype, LONG width, LONG height, WORD bits) {
  VIDEOINFOHEADER format = {};
  format.AvgTimePerFrame = 333333;
  format.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  format.bmiHeader.biWidth = width;
  format.bmiHeader.biHeight = height;
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = bits;
  format.bmiHeader.biSizeImage = BitmapImageSize(format.bmiHeader);
  type.SetMajorType(MEDIATYPE_Video);
  type.SetSubtype(subtype);
  type.SetFormatType(FORMAT_VideoInfo);
  type.SetSampleSize(format.bmiHeader.biSizeImage);
  type.SetFormat(&format, sizeof(format));
}

FakeOutputPin::FakeOutputPin(FakeFilter* filter, const wchar_t* name)
    : OutputPinBase(filter, name) {}

HRESULT FakeOutputPin::GetOfferedType(int32_t index, MediaType* type) {
  if (index < 0) return E_INVALIDARG;
  if (static_cast<size_t>(index) >= types.size()) return VFW_S_NO_MORE_ITEMS;
  return type->Assign(*types[index]);
}

HRESULT FakeOutputPin::CheckType(const MediaType* type) {
  for (const auto& own : types) {
    if (*own == *type) return S_OK;
  }
  return E_FAIL;
}

HRESULT FakeOutputPin::SetType(const MediaType* type) {
  if (during_set_type) during_set_type();
  return OutputPinBase::SetType(type);
}

HRESULT FakeOutputPin::SizeBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  ++size_buffer_calls;
  ALLOCATOR_PROPERTIES wanted = *request;
  if (wanted.cBuffers < 1) wanted.cBuffers = 1;
  if (wanted.cbBuffer < static_cast<LONG>(ConnectionType().lSampleSize)) {
    wanted.cbBuffer = ConnectionType().lSampleSize;
  }
  ALLOCATOR_PROPERTIES actual = {};
  const HRESULT hr = allocator->SetProperties(&wanted, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer >= wanted.cbBuffer ? S_OK : E_FAIL;
}

FakeFilter::FakeFilter() : ComObjectBase(nullptr) { Inner()->AddRef(); }

// The pins go before the lock they point at.
FakeFilter::~FakeFilter() { pins.clear(); }

FakeOutputPin* FakeFilter::AddPin(const wchar_t* name) {
  pins.push_back(std::make_unique<FakeOutputPin>(this, name));
  auto type = std::make_unique<MediaType>();
  MakeVideoType(*type, MEDIASUBTYPE_RGB32, 64, 48, 32);
  pins.back()->types.push_back(std::move(type));
  return pins.back().get();
}

HRESULT FakeFilter::InnerQueryInterface(REFIID iid, void** out) {
  if (iid == IID_IBaseFilter || iid == IID_IMediaFilter || iid == IID_IPersist) {
    return HandOut(static_cast<IBaseFilter*>(this), out);
  }
  return ComObjectBase::InnerQueryInterface(iid, out);
}

HRESULT FakeFilter::SetState(FILTER_STATE next) {
  ScopedLock hold(lock_);
  state = next;
  return S_OK;
}

HRESULT FakeFilter::GetState(DWORD, FILTER_STATE* out) {
  if (!out) return E_POINTER;
  ScopedLock hold(lock_);
  *out = state;
  return S_OK;
}

HRESULT FakeFilter::EnumPins(IEnumPins** out) {
  if (!out) return E_POINTER;
  *out = new PinEnumerator(this);
  return S_OK;
}

HRESULT FakeFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  info->achName[0] = L'\0';
  info->pGraph = nullptr;
  return S_OK;
}

bool FakeFilter::IsStarted() {
  ScopedLock hold(lock_);
  return state != State_Stopped;
}

int32_t FakeFilter::PinCount() {
  ScopedLock hold(lock_);
  return reported_pin_count >= 0 ? reported_pin_count : static_cast<int32_t>(pins.size());
}

PinBase* FakeFilter::PinAt(int32_t index) {
  ScopedLock hold(lock_);
  if (index < 0 || static_cast<size_t>(index) >= pins.size()) return nullptr;
  return pins[index].get();
}

}  // namespace qp::framework::testing
