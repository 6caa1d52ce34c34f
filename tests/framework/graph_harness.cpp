// The stream tests' source, graphs, downstream pin and watchdog.
#include "graph_harness.h"

#include <evcode.h>
#include <psapi.h>
#include <qedit.h>
#include <tlhelp32.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

#include "fake_filter.h"
#include "platform/windows/scoped_handle.h"
#include "support/first_pin.h"

namespace qp::framework::testing {
namespace {

using qp::test::FirstPin;

// The platform's sample grabber and null renderer; mingw-w64's headers do not name them.
constexpr GUID kSampleGrabber = {
    0xc1f400a0, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};
constexpr GUID kNullRenderer = {
    0xc1f400a4, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};
constexpr GUID kTestSource = {
    0x5e1f7a10, 0x2b44, 0x4c1e, {0x9a, 0x61, 0x3d, 0x0c, 0x7e, 0x52, 0x11, 0x08}};

constexpr DWORD kTransitionLimitMs = 5000;

}  // namespace

// Watchdog

Watchdog::Watchdog()
    : changed_(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      thread_(CreateThread(nullptr, 0, &Watchdog::Main, this, 0, nullptr)) {}

Watchdog::~Watchdog() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    quit_ = true;
  }
  SetEvent(changed_);
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
  CloseHandle(changed_);
}

void Watchdog::Arm(const char* what, DWORD limit_ms) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    what_ = what;
    limit_ms_ = limit_ms;
  }
  SetEvent(changed_);
}

void Watchdog::Disarm() { Arm("", INFINITE); }

DWORD WINAPI Watchdog::Main(void* parameter) {
  auto* self = static_cast<Watchdog*>(parameter);
  for (;;) {
    DWORD limit;
    {
      std::lock_guard<std::mutex> hold(self->mutex_);
      if (self->quit_) return 0;
      limit = self->limit_ms_;
    }
    if (WaitForSingleObject(self->changed_, limit) == WAIT_TIMEOUT) {
      std::lock_guard<std::mutex> hold(self->mutex_);
      std::fprintf(stderr, "FAILED: %s did not return within %lu ms\n", self->what_.c_str(),
                   static_cast<unsigned long>(limit));
      std::fflush(stderr);
      std::_Exit(EXIT_FAILURE);
    }
  }
}

// TestStream

TestStream::TestStream(HRESULT* result, SourceFilterBase* filter)
    : StreamPinBase(result, filter, L"Test") {}

HRESULT TestStream::GetSingleType(MediaType* type) {
  MakeVideoType(*type, MEDIASUBTYPE_RGB32, 64, 48, 32);
  return S_OK;
}

HRESULT TestStream::SizeBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  request->cBuffers = std::max<long>(request->cBuffers, 2);
  request->cbBuffer = 64 * 48 * 4;
  ALLOCATOR_PROPERTIES actual;
  const HRESULT hr = allocator->SetProperties(request, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer >= request->cbBuffer ? S_OK : E_FAIL;
}

HRESULT TestStream::OnThreadStart() {
  ++thread_starts;
  if (worker_id.exchange(GetCurrentThreadId()) != GetCurrentThreadId()) ++threads_seen;
  frame_ = 0;
  return start_result;
}

HRESULT TestStream::OnThreadStop() {
  ++thread_stops;
  return S_OK;
}

bool TestStream::StopPosted() {
  StreamCommand command;
  if (!PeekCommand(command) || command != CommandStop) return false;
  ++fills_ended_by_stop;
  return true;
}

HRESULT TestStream::FillSample(IMediaSample* sample) {
  ++fills;
  if (end_after >= 0 && frame_ >= end_after) return end_result;

  for (;;) {
    FILTER_STATE state;
    if (SUCCEEDED(GetFilterState(0, state)) && state == State_Running) break;
    waiting_for_run = true;
    const bool stop = StopPosted();
    if (!stop) Sleep(1);
    waiting_for_run = false;
    if (stop) return S_FALSE;
  }
  const REFERENCE_TIME due = frame_ * frame_time;
  for (;;) {
    REFERENCE_TIME now;
    if (FAILED(GetStreamTime(now)) || now >= due) break;
    waiting_for_due = true;
    const bool stop = StopPosted();
    if (!stop) Sleep(1);
    waiting_for_due = false;
    if (stop) return S_FALSE;
  }
  REFERENCE_TIME start = due;
  REFERENCE_TIME end = due + frame_time;
  sample->SetTime(&start, &end);
  sample->SetSyncPoint(TRUE);
  sample->SetActualDataLength(sample->GetSize());
  ++frame_;
  return S_OK;
}

// TestSource

TestSource::TestSource(int stream_count) : SourceFilterBase(nullptr, kTestSource) {
  ScopedLock hold(FilterLock());
  for (int index = 0; index < stream_count; ++index) {
    streams.push_back(new TestStream(&construction, this));
  }
  stream = streams.front();
}

HRESULT TestSource::GetState(DWORD timeout_ms, FILTER_STATE* state) {
  const HRESULT hr = SourceFilterBase::GetState(timeout_ms, state);
  return hr == S_OK && *state == State_Paused ? VFW_S_CANT_CUE : hr;
}

// CountingInput

HRESULT CountingInput::ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) { return S_OK; }

HRESULT CountingInput::Disconnect() { return S_OK; }

HRESULT CountingInput::QueryDirection(PIN_DIRECTION* direction) {
  *direction = PINDIR_INPUT;
  return S_OK;
}

HRESULT CountingInput::EndOfStream() {
  ++ends;
  return S_OK;
}

HRESULT CountingInput::Receive(IMediaSample*) {
  ++receives;
  if (ends > 0) ++samples_after_end;
  if (on_receive) on_receive();
  return receive_result;
}

// RecordingGraph

std::vector<RecordingGraph::Event> RecordingGraph::Events() {
  std::lock_guard<std::mutex> hold(mutex_);
  return events_;
}

HRESULT RecordingGraph::Notify(long code, LONG_PTR param1, LONG_PTR param2) {
  std::lock_guard<std::mutex> hold(mutex_);
  events_.push_back({code, param1, param2});
  return S_OK;
}

// PlatformGraph

PlatformGraph::PlatformGraph(bool with_grabber) : with_grabber_(with_grabber) {
  source = new TestSource;
  source_reference = ComPtr<IBaseFilter>(source);
}

PlatformGraph::~PlatformGraph() {
  if (control) control->Stop();
  downstream.Reset();
  events.Reset();
  control.Reset();
  graph.Reset();
  source_reference.Reset();
}

bool PlatformGraph::Build() {
  EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                             reinterpret_cast<void**>(&graph)),
            S_OK);
  if (!graph) return false;
  EXPECT_EQ(CoCreateInstance(with_grabber_ ? kSampleGrabber : kNullRenderer, nullptr,
                             CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                             reinterpret_cast<void**>(&downstream)),
            S_OK);
  if (!downstream) return false;
  EXPECT_EQ(graph.As(control), S_OK);
  EXPECT_EQ(graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events)), S_OK);
  EXPECT_EQ(graph->AddFilter(source, L"Source"), S_OK);
  EXPECT_EQ(graph->AddFilter(downstream.Get(), L"Sink"), S_OK);
  const ComPtr<IPin> output = FirstPin(source, PINDIR_OUTPUT);
  const ComPtr<IPin> input = FirstPin(downstream.Get(), PINDIR_INPUT);
  if (!output || !input) return false;
  const HRESULT hr = graph->ConnectDirect(output.Get(), input.Get(), nullptr);
  EXPECT_EQ(hr, S_OK);
  return hr == S_OK && control && events;
}

HRESULT PlatformGraph::Settle(HRESULT hr) {
  if (hr != S_FALSE) return hr;
  OAFilterState state;
  hr = control->GetState(kTransitionLimitMs, &state);
  // A live source cannot cue: paused without a sample is where it is meant to be.
  return hr == VFW_S_CANT_CUE ? S_OK : hr;
}

HRESULT PlatformGraph::Run() { return Settle(control->Run()); }
HRESULT PlatformGraph::Pause() { return Settle(control->Pause()); }
HRESULT PlatformGraph::Stop() { return control->Stop(); }

bool PlatformGraph::WaitForEvent(long code, DWORD limit_ms, LONG_PTR* param1) {
  // Polled: the platform's GetEvent may give up before its time-out.
  for (DWORD waited = 0; waited <= limit_ms; ++waited) {
    long got;
    LONG_PTR first, second;
    while (SUCCEEDED(events->GetEvent(&got, &first, &second, 0))) {
      events->FreeEventParams(got, first, second);
      if (got == code) {
        if (param1) *param1 = first;
        return true;
      }
    }
    Sleep(1);
  }
  return false;
}

// GraphFixture

void GraphFixture::SetUp() {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  objects_before = ActiveObjectCount();
}

void GraphFixture::TearDown() {
  // A reference left anywhere keeps an object, and with it the count, up.
  EXPECT_EQ(ActiveObjectCount(), objects_before);
  CoUninitialize();
}

bool GraphFixture::WaitUntil(const std::function<bool()>& condition, DWORD limit_ms) {
  for (DWORD waited = 0; waited < limit_ms; ++waited) {
    if (condition()) return true;
    Sleep(1);
  }
  return condition();
}

int ProcessThreadCount() {
  ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  int count = 0;
  const DWORD process = GetCurrentProcessId();
  for (BOOL more = Thread32First(snapshot.Get(), &entry); more;
       more = Thread32Next(snapshot.Get(), &entry)) {
    if (entry.th32OwnerProcessID == process) ++count;
  }
  return count;
}

SIZE_T ProcessPrivateBytes() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
  return counters.PagefileUsage;
}

}  // namespace qp::framework::testing
