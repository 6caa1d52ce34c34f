// One capture run: the device's filter, a sample grabber in callback mode and a null renderer
// in a filter graph, started on a known graph-clock time so every arrival can be set against its
// time stamp.
#pragma once

#include <dshow.h>
#include <qedit.h>

#include <atomic>
#include <cstdint>
#include <functional>

#include "device_catalog.h"
#include "platform/windows/event_handle.h"
#include "video_format.h"

namespace qpcap {

// One sample as it reaches the application, on the streaming thread.
struct Arrival {
  IMediaSample* sample;
  int64_t arrival_ticks;       // QueryPerformanceCounter.
  REFERENCE_TIME stream_time;  // Graph clock minus the run's start time, 100 ns.
};

class FrameSink {
 public:
  virtual ~FrameSink() = default;
  // Streaming thread. Returns true once the sink has what it needs; later samples are not
  // passed on.
  virtual bool OnFrame(const Arrival& arrival) = 0;
};

// Control-thread object; only OnSample and the fields it reads run on the streaming thread.
class CaptureSession {
 public:
  enum class RunEnd { kSinkDone, kTimeUp, kStreamEnded };

  CaptureSession();
  ~CaptureSession();
  CaptureSession(const CaptureSession&) = delete;
  CaptureSession& operator=(const CaptureSession&) = delete;

  // source and output from OpenDevice; format null keeps the pin's current format. The sink
  // must outlive the session. Returns an exit code.
  int Build(IBaseFilter* source, IPin* output, const AM_MEDIA_TYPE* format, FrameSink* sink);

  const VideoFormat& connected_format() const { return connected_; }
  int64_t ticks_per_second() const { return ticks_per_second_; }
  // Performance-counter ticks just before the last Run paused the graph, and just before it
  // ran it.
  int64_t pause_ticks() const { return pause_ticks_; }
  int64_t run_ticks() const { return run_ticks_; }

  // Runs until the sink is done, seconds of wall time pass, or the graph reports the end or an
  // error. progress (may be empty) gets the seconds since the start, about five times a second.
  // Returns an exit code; end says why a successful run stopped.
  int Run(double seconds, const std::function<void(double)>& progress, RunEnd& end);

 private:
  // The grabber's callback; part of the session, which outlives the graph that calls it.
  class GrabberCallback : public ISampleGrabberCB {
   public:
    explicit GrabberCallback(CaptureSession* owner) : owner_(owner) {}
    // IUnknown: the session owns this object; counting is not needed.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    // ISampleGrabberCB
    HRESULT STDMETHODCALLTYPE SampleCB(double time, IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE*, LONG) override { return E_NOTIMPL; }

   private:
    CaptureSession* owner_;  // Not counted: the owner.
  };

  void OnSample(IMediaSample* sample);
  int CheckGraphEvents(RunEnd& end, bool& ended);
  void StopGraph();

  // Destroyed last: the graph below may call it until it is released.
  GrabberCallback callback_{this};
  qp::framework::EventHandle sink_done_{qp::framework::EventHandle::kManualReset};
  FrameSink* sink_ = nullptr;  // Not owned. Called only on the streaming thread.
  VideoFormat connected_;
  int64_t ticks_per_second_ = 1;
  int64_t pause_ticks_ = 0, run_ticks_ = 0;
  // Written by the control thread before the run; read on the streaming thread.
  std::atomic<REFERENCE_TIME> run_start_{0};
  std::atomic<bool> accepting_{false};

  ComPtr<IGraphBuilder> graph_;
  ComPtr<IMediaControl> control_;
  ComPtr<IMediaEvent> events_;
  ComPtr<IReferenceClock> clock_;  // Free-threaded; read on the streaming thread too.
  bool running_ = false;
};

}  // namespace qpcap
