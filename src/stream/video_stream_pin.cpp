// Construction, destruction and the preset the stream produces.
#include "stream/video_stream_pin.h"

namespace qp::stream {

using framework::ScopedLock;

VideoStreamPin::VideoStreamPin(HRESULT* result, framework::SourceFilterBase* filter,
                               const wchar_t* name, StreamEnvironment& environment,
                               framework::StreamServices* services)
    : StreamPinBase(result, filter, name),
      services_(services ? *services : *this),
      environment_(environment) {
  ScopedLock hold(stream_lock_);
  if (!environment_.LoadConfiguration(settings_) || settings_.presets.Empty()) {
    if (result != nullptr) *result = E_OUTOFMEMORY;
    return;
  }
  SelectPreset(settings_.presets[0]);
}

VideoStreamPin::~VideoStreamPin() {
  // The worker runs this object's hooks: it must end before any member goes.
  StopThread();
  {
    ScopedLock hold(stream_lock_);
    background_.ReleasePixels();
    font_.ReleasePixels();
    settings_.presets.Release();
    // A worker that ended without its shut-down must not leave the timer resolution raised.
    if (timer_period_held_) {
      environment_.EndTimerPeriod(fine_timer_);
      timer_period_held_ = false;
    }
  }
  latency_log_.Close();
}

HRESULT VideoStreamPin::InnerQueryInterface(REFIID iid, void** out) {
  if (iid == IID_IAMStreamConfig) return HandOut(static_cast<IAMStreamConfig*>(this), out);
  if (iid == IID_IKsPropertySet) return HandOut(static_cast<IKsPropertySet*>(this), out);
  return StreamPinBase::InnerQueryInterface(iid, out);
}

// IAMStreamConfig

HRESULT VideoStreamPin::SetFormat(AM_MEDIA_TYPE* type) { return capabilities_.SetFormat(type); }

HRESULT VideoStreamPin::GetFormat(AM_MEDIA_TYPE** type) { return capabilities_.GetFormat(type); }

HRESULT VideoStreamPin::GetNumberOfCapabilities(int* count, int* size) {
  return capabilities_.GetNumberOfCapabilities(count, size);
}

HRESULT VideoStreamPin::GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) {
  return capabilities_.GetStreamCaps(index, type, caps);
}

// IKsPropertySet; no property takes instance data.

HRESULT VideoStreamPin::Set(REFGUID set, DWORD id, void*, DWORD, void*, DWORD) {
  return capabilities_.SetProperty(set, id);
}

HRESULT VideoStreamPin::Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD dataSize,
                            DWORD* returned) {
  return capabilities_.GetProperty(set, id, data, dataSize, returned);
}

HRESULT VideoStreamPin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
  return capabilities_.QuerySupported(set, id, support);
}

// IQualityControl

HRESULT VideoStreamPin::Notify(IBaseFilter*, Quality) { return S_OK; }

config::Preset VideoStreamPin::CurrentPreset() const {
  ScopedLock hold(preset_lock_);
  return current_preset_;
}

void VideoStreamPin::SelectPreset(const config::Preset& preset) {
  ScopedLock hold(preset_lock_);
  current_preset_ = preset;
}

}  // namespace qp::stream
