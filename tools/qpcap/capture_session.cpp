#include "capture_session.h"

#include <uuids.h>

#include "tool_status.h"

namespace qpcap {
namespace {

// qedit's classes; the SDK headers at hand declare the interfaces but not these identifiers.
const CLSID kSampleGrabberClass = {
    0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
const CLSID kNullRendererClass = {
    0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

template <typename T>
HRESULT Create(const CLSID& id, ComPtr<T>& object) {
  return CoCreateInstance(id, nullptr, CLSCTX_INPROC_SERVER, __uuidof(T),
                          reinterpret_cast<void**>(&object));
}

HRESULT FindPin(IBaseFilter* filter, PIN_DIRECTION wanted, ComPtr<IPin>& found) {
  ComPtr<IEnumPins> pins;
  HRESULT hr = filter->EnumPins(&pins);
  if (FAILED(hr)) return hr;
  ComPtr<IPin> pin;
  while (pins->Next(1, &pin, nullptr) == S_OK) {
    PIN_DIRECTION direction;
    if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == wanted) {
      found = pin;
      return S_OK;
    }
  }
  return VFW_E_NOT_FOUND;
}

int64_t Ticks() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

}  // namespace

HRESULT CaptureSession::GrabberCallback::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_ISampleGrabberCB) {
    *object = static_cast<ISampleGrabberCB*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT CaptureSession::GrabberCallback::SampleCB(double, IMediaSample* sample) {
  if (sample) owner_->OnSample(sample);
  return S_OK;
}

CaptureSession::CaptureSession() {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  ticks_per_second_ = frequency.QuadPart;
}

CaptureSession::~CaptureSession() { StopGraph(); }

int CaptureSession::Build(IBaseFilter* source, IPin* output, const AM_MEDIA_TYPE* format,
                          FrameSink* sink) {
  sink_ = sink;
  HRESULT hr = Create(CLSID_FilterGraph, graph_);
  if (FAILED(hr))
    return Fail(kExitFailure, "cannot create a filter graph: %s", HresultText(hr).c_str());
  ComPtr<IBaseFilter> grabber_filter, renderer;
  if (FAILED(hr = Create(kSampleGrabberClass, grabber_filter)))
    return Fail(kExitFailure, "cannot create the sample grabber: %s", HresultText(hr).c_str());
  if (FAILED(hr = Create(kNullRendererClass, renderer)))
    return Fail(kExitFailure, "cannot create the null renderer: %s", HresultText(hr).c_str());
  ComPtr<ISampleGrabber> grabber;
  if (FAILED(hr = grabber_filter.As(grabber)))
    return Fail(kExitFailure, "the sample grabber lacks ISampleGrabber: %s",
                HresultText(hr).c_str());

  if (FAILED(hr = graph_->AddFilter(source, L"Source")) ||
      FAILED(hr = graph_->AddFilter(grabber_filter.Get(), L"Grabber")) ||
      FAILED(hr = graph_->AddFilter(renderer.Get(), L"Discard")))
    return Fail(kExitFailure, "cannot add the filters to the graph: %s", HresultText(hr).c_str());

  if (format) {
    ComPtr<IAMStreamConfig> config;
    hr = output->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config));
    if (SUCCEEDED(hr)) hr = config->SetFormat(const_cast<AM_MEDIA_TYPE*>(format));
    if (FAILED(hr))
      return Fail(kExitNoFormat, "the device refused the format: %s", HresultText(hr).c_str());
  }

  // Video of any kind: the grabber must not make the graph look for converters.
  AM_MEDIA_TYPE accepted{};
  accepted.majortype = MEDIATYPE_Video;
  if (FAILED(hr = grabber->SetMediaType(&accepted)) ||
      FAILED(hr = grabber->SetBufferSamples(FALSE)) || FAILED(hr = grabber->SetOneShot(FALSE)) ||
      FAILED(hr = grabber->SetCallback(&callback_, 0)))
    return Fail(kExitFailure, "cannot set up the sample grabber: %s", HresultText(hr).c_str());

  ComPtr<IPin> grabber_in, grabber_out, renderer_in;
  if (FAILED(hr = FindPin(grabber_filter.Get(), PINDIR_INPUT, grabber_in)) ||
      FAILED(hr = FindPin(grabber_filter.Get(), PINDIR_OUTPUT, grabber_out)) ||
      FAILED(hr = FindPin(renderer.Get(), PINDIR_INPUT, renderer_in)))
    return Fail(kExitFailure, "cannot find the grabber's pins: %s", HresultText(hr).c_str());
  if (FAILED(hr = graph_->ConnectDirect(output, grabber_in.Get(), nullptr)))
    return Fail(kExitFailure, "the device does not connect to the sample grabber: %s",
                HresultText(hr).c_str());
  if (FAILED(hr = graph_->ConnectDirect(grabber_out.Get(), renderer_in.Get(), nullptr)))
    return Fail(kExitFailure, "the grabber does not connect to the null renderer: %s",
                HresultText(hr).c_str());

  AM_MEDIA_TYPE connected{};
  hr = grabber->GetConnectedMediaType(&connected);
  const bool readable = SUCCEEDED(hr) && ReadVideoFormat(connected, connected_);
  FreeMediaTypeMembers(connected);
  if (!readable)
    return Fail(kExitFailure, "the connected type is not a video format the tool reads");

  ComPtr<IMediaFilter> graph_filter;
  ComPtr<IFilterGraph2> graph2;
  if (FAILED(hr = graph_.As(control_)) ||
      FAILED(hr = graph_->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events_))) ||
      FAILED(hr = graph_.As(graph_filter)) || FAILED(hr = graph_.As(graph2)))
    return Fail(kExitFailure, "the filter graph lacks a control interface: %s",
                HresultText(hr).c_str());
  if (FAILED(hr = graph2->SetDefaultSyncSource()) ||
      FAILED(hr = graph_filter->GetSyncSource(&clock_)) || !clock_)
    return Fail(kExitFailure, "the graph has no clock: %s", HresultText(hr).c_str());
  // The renderer discards; on the clock it would hold early samples back and the arrivals
  // would measure its schedule rather than the source's.
  ComPtr<IMediaFilter> renderer_filter;
  if (SUCCEEDED(renderer.As(renderer_filter))) renderer_filter->SetSyncSource(nullptr);
  return kExitOk;
}

void CaptureSession::OnSample(IMediaSample* sample) {
  if (!accepting_.load(std::memory_order_acquire)) return;
  Arrival arrival{sample, Ticks(), 0};
  REFERENCE_TIME now = 0;
  if (SUCCEEDED(clock_->GetTime(&now))) arrival.stream_time = now - run_start_.load();
  if (sink_->OnFrame(arrival)) {
    accepting_.store(false, std::memory_order_release);
    sink_done_.Set();
  }
}

int CaptureSession::Run(double seconds, const std::function<void(double)>& progress, RunEnd& end) {
  if (!control_ || !sink_done_.IsValid()) return Fail(kExitFailure, "the graph is not built");
  sink_done_.Clear();  // a session may run again
  pause_ticks_ = Ticks();
  HRESULT hr = control_->Pause();
  OAFilterState state = State_Stopped;
  if (SUCCEEDED(hr)) hr = control_->GetState(10000, &state);
  running_ = true;
  // VFW_S_CANT_CUE: a live source is paused but produces nothing until it runs.
  if (FAILED(hr) || hr == VFW_S_STATE_INTERMEDIATE) {
    StopGraph();
    return Fail(kExitFailure, "the graph does not pause: %s", HresultText(hr).c_str());
  }
  ComPtr<IMediaFilter> graph_filter;
  graph_.As(graph_filter);
  // Started on the clock's present time, so a sample stamped t is due at stream time t.
  REFERENCE_TIME start = 0;
  clock_->GetTime(&start);
  run_start_.store(start);
  accepting_.store(true, std::memory_order_release);
  const int64_t first_tick = Ticks();
  run_ticks_ = first_tick;
  if (FAILED(hr = graph_filter->Run(start))) {
    StopGraph();
    return Fail(kExitFailure, "the graph does not run: %s", HresultText(hr).c_str());
  }

  bool ended = false;
  int status = kExitOk;
  end = RunEnd::kTimeUp;
  for (;;) {
    const double elapsed = double(Ticks() - first_tick) / double(ticks_per_second_);
    if (progress) progress(elapsed);
    if (WaitForSingleObject(sink_done_.Get(), 0) == WAIT_OBJECT_0) {
      end = RunEnd::kSinkDone;
      break;
    }
    if ((status = CheckGraphEvents(end, ended)) != kExitOk || ended) break;
    if (elapsed >= seconds) break;
    const double left_ms = (seconds - elapsed) * 1000.0;
    WaitForSingleObject(sink_done_.Get(), left_ms < 200.0 ? DWORD(left_ms) + 1 : 200);
  }
  accepting_.store(false, std::memory_order_release);
  StopGraph();
  return status;
}

int CaptureSession::CheckGraphEvents(RunEnd& end, bool& ended) {
  long code = 0;
  LONG_PTR first = 0, second = 0;
  while (events_->GetEvent(&code, &first, &second, 0) == S_OK) {
    const HRESULT reported = HRESULT(first);
    events_->FreeEventParams(code, first, second);
    if (code == EC_ERRORABORT || code == EC_STREAM_ERROR_STOPPED)
      return Fail(kExitFailure, "the stream stopped with an error: %s",
                  HresultText(reported).c_str());
    if (code == EC_COMPLETE || code == EC_USERABORT) {
      end = RunEnd::kStreamEnded;
      ended = true;
    }
  }
  return kExitOk;
}

void CaptureSession::StopGraph() {
  if (running_ && control_) control_->Stop();
  running_ = false;
}

}  // namespace qpcap
