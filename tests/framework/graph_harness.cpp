// The stream tests' source, graphs, downstream pin and watchdog.
#include "graph_harness.h"

#include <evcode.h>
#include <psapi.h>
#include <qedit.h>
#include <tlhelp32.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "fake_filter.h"
#include "platform/windows/scoped_handle.h"
#include "support/first_pin.h"
#include "support/platform_filter_ids.h"

namespace qp::framework::testing {
namespace {

using qp::test::FirstPin;
using qp::test::kNullRendererClassId;
using qp::test::kSampleGrabberClassId;

constexpr GUID kTestSource = {
    0x5e1f7a10, 0x2b44, 0x4c1e, {0x9a, 0x61, 0x3d, 0x0c, 0x7e, 0x52, 0x11, 0x08}};

constexpr DWORD kTransitionLimitMs = 5000;

}  // namespace

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
  EXPECT_EQ(CoCreateInstance(with_grabber_ ? kSampleGrabberClassId : kNullRendererClassId, nullptr,
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
