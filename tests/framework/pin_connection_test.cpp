// The output pin's connection: references counted on the filter, type agreement with and
// without a type, refused arguments and states, allocator choice when the peer refuses, and
// connections to the platform's own downstream filters.
#include <windows.h>

#include <strmif.h>

#include <qedit.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/fake_downstream_pin.h"
#include "pin_test_fixture.h"

namespace qp::framework::testing {
namespace {

// The platform's sample grabber and null renderer; mingw-w64's headers do not name them.
constexpr GUID kSampleGrabber = {
    0xc1f400a0, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};
constexpr GUID kNullRenderer = {
    0xc1f400a4, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};

std::unique_ptr<MediaType> VideoType(const GUID& subtype, WORD bits) {
  auto type = std::make_unique<MediaType>();
  MakeVideoType(*type, subtype, 64, 48, bits);
  return type;
}

class PinConnection : public PinFixture {
 protected:
  void SetUp() override {
    PinFixture::SetUp();
    peer = new FakeDownstreamPin;
    peer_reference = ComPtr<IPin>::Adopt(peer);
    pin->types.push_back(VideoType(MEDIASUBTYPE_RGB24, 24));
  }
  void TearDown() override {
    // Only the test's own reference may remain on the peer and its allocator.
    EXPECT_EQ(peer->References(), 1);
    peer->Disconnect();
    EXPECT_EQ(ReferencesOf(peer->offered_allocator.Get()), 1u);
    peer_reference.Reset();
    PinFixture::TearDown();
  }
  HRESULT Connect(const AM_MEDIA_TYPE* type = nullptr) { return pin->Connect(peer, type); }
  // The agreed type's subtype, read back through IPin.
  GUID ConnectedSubtype() {
    MediaType type;
    EXPECT_EQ(pin->ConnectionMediaType(&type), S_OK);
    return type.subtype;
  }
  void Disconnect() {
    EXPECT_EQ(pin->Disconnect(), S_OK);
    peer->Disconnect();
  }

  FakeDownstreamPin* peer = nullptr;
  ComPtr<IPin> peer_reference;
};

// Every interface of the pin shares the filter's count and one identity.
TEST_F(PinConnection, PinReferencesCountOnTheFilter) {
  const ULONG alone = FilterReferences();
  ComPtr<IPin> as_pin(pin);
  ComPtr<IQualityControl> as_quality;
  ASSERT_EQ(as_pin.As(as_quality), S_OK);
  EXPECT_EQ(FilterReferences(), alone + 2);

  ComPtr<IUnknown> identity_from_pin, identity_from_quality;
  ASSERT_EQ(as_pin.As(identity_from_pin), S_OK);
  ASSERT_EQ(as_quality.As(identity_from_quality), S_OK);
  EXPECT_EQ(identity_from_pin.Get(), identity_from_quality.Get());
  EXPECT_EQ(identity_from_pin.Get(), pin->Inner());

  PIN_INFO info;
  ASSERT_EQ(pin->QueryPinInfo(&info), S_OK);
  EXPECT_EQ(info.pFilter, filter_reference.Get());
  EXPECT_EQ(FilterReferences(), alone + 5);
  info.pFilter->Release();
}

TEST_F(PinConnection, PinInfoNameIsCutTo127Characters) {
  const std::wstring long_name(200, L'n');
  FakeOutputPin* named = filter->AddPin(long_name.c_str());
  PIN_INFO info;
  ASSERT_EQ(named->QueryPinInfo(&info), S_OK);
  info.pFilter->Release();
  EXPECT_EQ(std::wstring(info.achName), long_name.substr(0, 127));
  EXPECT_EQ(info.dir, PINDIR_OUTPUT);
}

// QueryAccept turns a refusal into S_FALSE.
TEST_F(PinConnection, QueryAcceptAnswersTheTypeCheck) {
  EXPECT_EQ(pin->QueryAccept(pin->types[1].get()), S_OK);
  EXPECT_EQ(pin->QueryAccept(VideoType(MEDIASUBTYPE_YUY2, 16).get()), S_FALSE);
}

TEST_F(PinConnection, UnconnectedPinAnswersNotConnected) {
  IPin* connected = reinterpret_cast<IPin*>(1);
  EXPECT_EQ(pin->ConnectedTo(&connected), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(connected, nullptr);

  AM_MEDIA_TYPE type;
  memset(&type, 0xAB, sizeof(type));
  EXPECT_EQ(pin->ConnectionMediaType(&type), VFW_E_NOT_CONNECTED);
  EXPECT_TRUE(IsEqualGUID(type.majortype, GUID_NULL));
  EXPECT_TRUE(IsEqualGUID(type.subtype, GUID_NULL));
  EXPECT_TRUE(IsEqualGUID(type.formattype, GUID_NULL));
  EXPECT_EQ(type.bFixedSizeSamples, TRUE);
  EXPECT_EQ(type.lSampleSize, 1u);
  EXPECT_EQ(type.cbFormat, 0u);
  EXPECT_EQ(type.pbFormat, nullptr);
  EXPECT_EQ(type.pUnk, nullptr);

  EXPECT_EQ(pin->DeliverEnd(), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(pin->DeliverFlushStart(), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(pin->DeliverFlushEnd(), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(pin->DeliverSegment(0, 1, 1.0), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(pin->DeliverSample(nullptr), VFW_E_NOT_CONNECTED);
  IMediaSample* sample = nullptr;
  EXPECT_EQ(pin->GetFreeSample(&sample, nullptr, nullptr, 0), E_NOINTERFACE);
  EXPECT_EQ(pin->Activate(), VFW_E_NO_ALLOCATOR);
  EXPECT_EQ(pin->Deactivate(), VFW_E_NO_ALLOCATOR);
  EXPECT_EQ(pin->Disconnect(), S_FALSE);
}

// A complete type is tried alone; the peer is not asked for its list.
TEST_F(PinConnection, FullTypeConnectsWithoutEnumerating) {
  peer->offered.push_back(VideoType(MEDIASUBTYPE_RGB32, 32));
  ASSERT_EQ(Connect(pin->types[1].get()), S_OK);
  EXPECT_EQ(peer->enumerations, 0);
  EXPECT_EQ(peer->connections, 1);
  EXPECT_TRUE(TypesEqual(peer->connection_type, *pin->types[1]));
  EXPECT_EQ(ConnectedSubtype(), MEDIASUBTYPE_RGB24);
  EXPECT_EQ(peer->notified.Get(), peer->offered_allocator.Get());  // the peer's own first
  IPin* connected = nullptr;
  ASSERT_EQ(pin->ConnectedTo(&connected), S_OK);
  EXPECT_EQ(connected, static_cast<IPin*>(peer));
  connected->Release();
  Disconnect();
}

// Without a type the receiving pin's list comes first, even where this pin would prefer
// another; a partial type narrows either list.
TEST_F(PinConnection, ReceivingPinsTypesComeFirst) {
  peer->offered.push_back(VideoType(MEDIASUBTYPE_YUY2, 16));  // refused by our pin
  peer->offered.push_back(VideoType(MEDIASUBTYPE_RGB24, 24));
  peer->offered.push_back(VideoType(MEDIASUBTYPE_RGB32, 32));
  ASSERT_EQ(Connect(), S_OK);
  EXPECT_EQ(ConnectedSubtype(), MEDIASUBTYPE_RGB24);
  EXPECT_EQ(peer->connections, 1);
  Disconnect();

  MediaType partial;
  partial.SetMajorType(MEDIATYPE_Video);
  partial.SetSubtype(MEDIASUBTYPE_RGB32);
  ASSERT_TRUE(partial.IsPartial());
  ASSERT_EQ(Connect(&partial), S_OK);
  EXPECT_EQ(ConnectedSubtype(), MEDIASUBTYPE_RGB32);
  Disconnect();
}

TEST_F(PinConnection, EmptyReceivingListFallsBackToOwnTypes) {
  ASSERT_EQ(Connect(), S_OK);
  EXPECT_EQ(peer->enumerations, 1);
  EXPECT_EQ(ConnectedSubtype(), MEDIASUBTYPE_RGB32);
  Disconnect();
}

// Every failed attempt leaves the pin unconnected and the peer unreferenced (TearDown).
TEST_F(PinConnection, RefusedTypesLeaveThePinUnconnected) {
  peer->accepts_types = false;
  EXPECT_EQ(Connect(), VFW_E_NO_ACCEPTABLE_TYPES);
  EXPECT_EQ(peer->connections, 2);  // our two types, the peer's list being empty
  EXPECT_EQ(pin->size_buffer_calls, 0);

  // A specific refusal is the reason reported.
  peer->refusal = E_ACCESSDENIED;
  EXPECT_EQ(Connect(), E_ACCESSDENIED);
  EXPECT_EQ(Connect(pin->types[0].get()), E_ACCESSDENIED);

  // A type this pin refuses never reaches the peer.
  peer->connections = 0;
  EXPECT_EQ(Connect(VideoType(MEDIASUBTYPE_YUY2, 16).get()), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(peer->connections, 0);

  peer->accepts_types = true;
  peer->direction = PINDIR_OUTPUT;
  EXPECT_EQ(Connect(), VFW_E_INVALID_DIRECTION);
  EXPECT_EQ(Connect(pin->types[0].get()), VFW_E_INVALID_DIRECTION);

  IPin* connected = nullptr;
  EXPECT_EQ(pin->ConnectedTo(&connected), VFW_E_NOT_CONNECTED);
}

// A connection being made is not visible, whether the attempt fails or succeeds: a reader on
// another thread would otherwise see the new peer with the previous connection's type, or a
// peer that is about to go. Once made, the peer shows with its own type.
TEST_F(PinConnection, AConnectionIsVisibleOnlyOnceMadeAndWithItsType) {
  int looks = 0;
  std::vector<std::string> visible;
  auto look = [&](const char* when) {
    ++looks;
    IPin* connected = nullptr;
    const HRESULT peer_answer = pin->ConnectedTo(&connected);
    if (connected) connected->Release();
    MediaType type;
    const HRESULT type_answer = pin->ConnectionMediaType(&type);
    if (peer_answer != VFW_E_NOT_CONNECTED || type_answer != VFW_E_NOT_CONNECTED)
      visible.push_back(when);
  };
  pin->during_set_type = [&] { look("the pin's SetType"); };
  peer->during_connection = [&] { look("the peer's ReceiveConnection"); };

  ASSERT_EQ(Connect(pin->types[0].get()), S_OK);
  EXPECT_EQ(ConnectedSubtype(), MEDIASUBTYPE_RGB32);
  Disconnect();
  // Reconnections with another type: refused by the peer, refused at the allocator after the
  // peer took the type, then made.
  peer->accepts_types = false;
  EXPECT_EQ(Connect(pin->types[1].get()), VFW_E_TYPE_NOT_ACCEPTED);
  look("after the refused type");
  peer->accepts_types = true;
  peer->notify = FakeDownstreamPin::AllocatorAnswer::RefuseAll;
  EXPECT_EQ(Connect(pin->types[1].get()), E_FAIL);
  look("after the refused allocator");
  peer->notify = FakeDownstreamPin::AllocatorAnswer::Accept;
  ASSERT_EQ(Connect(pin->types[1].get()), S_OK);
  EXPECT_EQ(ConnectedSubtype(), MEDIASUBTYPE_RGB24);
  Disconnect();
  // Connected to from the other side.
  ASSERT_EQ(pin->ReceiveConnection(peer, pin->types[0].get()), S_OK);
  EXPECT_EQ(ConnectedSubtype(), MEDIASUBTYPE_RGB32);
  Disconnect();

  EXPECT_EQ(looks, 11);
  EXPECT_TRUE(visible.empty()) << "a connection was visible in " << visible.front();
  pin->during_set_type = nullptr;
  peer->during_connection = nullptr;
}

// The peer keeps its own allocator to itself: the pin offers one of its own, sized again.
TEST_F(PinConnection, RefusedAllocatorIsReplacedByOwn) {
  peer->notify = FakeDownstreamPin::AllocatorAnswer::RefuseOffered;
  ASSERT_EQ(Connect(), S_OK);
  ASSERT_TRUE(peer->notified);
  EXPECT_NE(peer->notified.Get(), peer->offered_allocator.Get());
  EXPECT_EQ(pin->size_buffer_calls, 2);

  ASSERT_EQ(pin->Activate(), S_OK);
  IMediaSample* sample = nullptr;
  ASSERT_EQ(pin->GetFreeSample(&sample, nullptr, nullptr, 0), S_OK);
  EXPECT_GE(sample->GetSize(), 64 * 48 * 4);
  EXPECT_EQ(pin->DeliverSample(sample), S_OK);
  sample->Release();
  EXPECT_EQ(peer->receives, 1);
  ASSERT_EQ(pin->Deactivate(), S_OK);
  EXPECT_EQ(pin->GetFreeSample(&sample, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
  Disconnect();
}

// No allocator at all: the connection fails, the peer is told to drop it, and both
// allocators are released (TearDown checks the peer's).
TEST_F(PinConnection, RefusingEveryAllocatorFailsTheConnection) {
  peer->notify = FakeDownstreamPin::AllocatorAnswer::RefuseAll;
  EXPECT_EQ(Connect(pin->types[0].get()), E_FAIL);
  EXPECT_EQ(peer->disconnects, 1);
  EXPECT_FALSE(peer->connector);
  EXPECT_EQ(pin->Activate(), VFW_E_NO_ALLOCATOR);
}

TEST_F(PinConnection, ConnectionChangesOnlyWhileStopped) {
  filter->state = State_Paused;
  EXPECT_EQ(Connect(), VFW_E_NOT_STOPPED);
  EXPECT_EQ(peer->connections, 0);

  filter->state = State_Stopped;
  ASSERT_EQ(Connect(), S_OK);
  EXPECT_EQ(Connect(), VFW_E_ALREADY_CONNECTED);
  EXPECT_EQ(pin->ReceiveConnection(peer, pin->types[0].get()), VFW_E_ALREADY_CONNECTED);
  filter->state = State_Running;
  EXPECT_EQ(pin->Disconnect(), VFW_E_NOT_STOPPED);
  IPin* connected = nullptr;
  ASSERT_EQ(pin->ConnectedTo(&connected), S_OK);
  connected->Release();
  filter->state = State_Stopped;
  Disconnect();
  EXPECT_EQ(pin->Disconnect(), S_FALSE);
}

// The platform's own downstream filters, connected without a graph.
class PlatformPeer : public PinFixture, public ::testing::WithParamInterface<GUID> {};

ComPtr<IPin> FirstInputPin(IBaseFilter* downstream) {
  ComPtr<IEnumPins> pins;
  if (FAILED(downstream->EnumPins(&pins))) return {};
  ComPtr<IPin> each;
  while (pins->Next(1, &each, nullptr) == S_OK) {
    PIN_DIRECTION direction;
    if (SUCCEEDED(each->QueryDirection(&direction)) && direction == PINDIR_INPUT) return each;
  }
  return {};
}

TEST_P(PlatformPeer, ConnectsStreamsAndDisconnects) {
  ComPtr<IBaseFilter> downstream;
  ASSERT_EQ(CoCreateInstance(GetParam(), nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                             reinterpret_cast<void**>(&downstream)),
            S_OK);
  if (IsEqualGUID(GetParam(), kSampleGrabber)) {
    ComPtr<ISampleGrabber> grabber;
    ASSERT_EQ(downstream.As(grabber), S_OK);
    MediaType video;
    video.SetMajorType(MEDIATYPE_Video);
    ASSERT_EQ(grabber->SetMediaType(&video), S_OK);
  }
  ComPtr<IPin> input = FirstInputPin(downstream.Get());
  ASSERT_TRUE(input);

  ASSERT_EQ(pin->Connect(input.Get(), nullptr), S_OK);
  ComPtr<IPin> back;
  ASSERT_EQ(input->ConnectedTo(&back), S_OK);
  EXPECT_EQ(back.Get(), static_cast<IPin*>(pin));
  back.Reset();
  MediaType seen_downstream;
  ASSERT_EQ(input->ConnectionMediaType(&seen_downstream), S_OK);
  EXPECT_TRUE(TypesEqual(seen_downstream, *pin->types[0]));

  ASSERT_EQ(pin->Activate(), S_OK);
  IMediaSample* sample = nullptr;
  ASSERT_EQ(pin->GetFreeSample(&sample, nullptr, nullptr, 0), S_OK);
  EXPECT_GE(sample->GetSize(), 64 * 48 * 4);
  sample->Release();
  EXPECT_EQ(pin->Deactivate(), S_OK);

  EXPECT_EQ(pin->Disconnect(), S_OK);
  EXPECT_EQ(input->Disconnect(), S_OK);
  EXPECT_EQ(input->ConnectedTo(&back), VFW_E_NOT_CONNECTED);
}

INSTANTIATE_TEST_SUITE_P(Wine, PlatformPeer,
                         ::testing::Values(kSampleGrabber, kNullRenderer, CLSID_AviDest),
                         [](const auto& info) {
                           return IsEqualGUID(info.param, kSampleGrabber)  ? "SampleGrabber"
                                  : IsEqualGUID(info.param, kNullRenderer) ? "NullRenderer"
                                                                           : "AviMux";
                         });

}  // namespace
}  // namespace qp::framework::testing
