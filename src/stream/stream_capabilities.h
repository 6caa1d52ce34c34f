// The stream's capabilities as a capture pin reports them: one fixed format per preset through
// IAMStreamConfig, the choice of a preset before connection, and the pin category through
// IKsPropertySet. The pin forwards those interfaces here.
#pragma once

#include <windows.h>

#include <strmif.h>

#include "config/preset.h"
#include "config/stream_configuration.h"
#include "framework/critical_section.h"

namespace qp::stream {

// Any thread, including a downstream filter's callback on the worker thread, and never the
// FilterLock. The settings and the preset table are read-only; the current preset is read and
// replaced through the pin, under its own lock. SetFormat holds the pin's format lock from its
// look at the connection to its choice of preset; the pin holds it while it checks a new
// connection's type against the preset, so no connection is agreed in between.
class StreamCapabilities {
 public:
  // What the capabilities use of their pin.
  class Pin {
   public:
    // Copied whole under the pin's preset lock. Any thread.
    virtual config::Preset CurrentPreset() const = 0;
    virtual void SelectPreset(const config::Preset& preset) = 0;
    // A leaf lock of the pin (its preset lock), recursive; never the FilterLock.
    virtual framework::CriticalSection& FormatLock() = 0;
    // True once a connection is agreed; one being agreed checks the preset again as it is
    // made visible, under the format lock. Any thread.
    virtual bool HasConnection() = 0;

   protected:
    ~Pin() = default;
  };

  // Both must outlive this object.
  StreamCapabilities(const config::StreamConfiguration& settings, Pin& pin);

  // IAMStreamConfig

  // Chooses the first preset of the table with the type's size (signed height), pixel format
  // and a frame time within ±50 (100 ns) of AvgTimePerFrame. Every malformed or unmatched
  // request: HRESULT_FROM_WIN32(ERROR_NO_MATCH). While connected, a preset that would change
  // the agreed frame (size, pixel format or frame time) is refused with
  // VFW_E_ALREADY_CONNECTED: the downstream holds buffers and a type for the old one.
  HRESULT SetFormat(const AM_MEDIA_TYPE* type);
  // The capability type of the current preset, in task memory the caller frees.
  HRESULT GetFormat(AM_MEDIA_TYPE** type) const;
  // One capability per preset, each a 128-byte VIDEO_STREAM_CONFIG_CAPS.
  HRESULT GetNumberOfCapabilities(int* count, int* size) const;
  // E_INVALIDARG for an index outside the table, which is then not read.
  HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) const;

  // IKsPropertySet: the pin category (PIN_CATEGORY_CAPTURE), read-only.
  HRESULT SetProperty(REFGUID set, DWORD id) const;
  HRESULT GetProperty(REFGUID set, DWORD id, void* data, DWORD dataSize, DWORD* returned) const;
  HRESULT QuerySupported(REFGUID set, DWORD id, DWORD* support) const;

 private:
  // The capability type of `preset` into a new task-memory record; E_OUTOFMEMORY leaves none.
  HRESULT NewCapabilityType(const config::Preset& preset, AM_MEDIA_TYPE** type) const;
  bool VideoInfo2() const { return settings_.use_video_info_header2 != 0; }
  // Records of the table that may be read: preset_num, never beyond what was allocated.
  int32_t PresetCount() const;

  const config::StreamConfiguration& settings_;
  Pin& pin_;
};

// MinBitsPerSecond and MaxBitsPerSecond of a capability: image bytes × 8 per frame at
// 10,000,000 / frame time frames per second (30 for a frame time of 0), truncated, saturated to
// [0, LONG_MAX]; a negative frame time gives 0.
LONG CapabilityBitRate(DWORD image_size, REFERENCE_TIME frame_time);

}  // namespace qp::stream
