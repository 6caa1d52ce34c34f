// The offered type's blocks byte by byte, the accepted and refused proposals, the recorded type
// and the buffer sizing with the platform's own allocator and a stingy one.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/windows/com_ptr.h"
#include "support/stream_test_doubles.h"
#include "stream/video_media_type.h"

namespace qp::stream::test {
namespace {

using framework::MediaType;

// Little-endian fields written at their offsets into an otherwise zero block.
struct Block {
  explicit Block(std::size_t size) : bytes(size, 0) {}
  Block& Put(std::size_t offset, uint64_t value, int size) {
    for (int i = 0; i < size; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    return *this;
  }
  // The BITMAPINFOHEADER at `at`.
  Block& Bitmap(std::size_t at, int32_t w, int32_t h, int bits, uint32_t compression,
                uint32_t image) {
    return Put(at, 40, 4)
        .Put(at + 4, uint32_t(w), 4)
        .Put(at + 8, uint32_t(h), 4)
        .Put(at + 12, 1, 2)
        .Put(at + 14, bits, 2)
        .Put(at + 16, compression, 4)
        .Put(at + 20, image, 4);
  }
  std::vector<uint8_t> bytes;
};

void ExpectBlock(const MediaType& type, const Block& expected) {
  ASSERT_EQ(type.cbFormat, expected.bytes.size());
  for (std::size_t k = 0; k < expected.bytes.size(); ++k)
    ASSERT_EQ(type.pbFormat[k], expected.bytes[k]) << "byte " << k;
}

TEST(OfferedType, VideoInfoBlockOf1128Bytes) {
  StreamRig rig("w=642\nh=480\nfcc=RG24\nframe_time=333667\ninterlaced=1\n");
  MediaType type;
  ASSERT_EQ(rig.pin->GetOfferedType(0, &type), S_OK);
  EXPECT_TRUE(IsEqualGUID(type.majortype, MEDIATYPE_Video));
  EXPECT_TRUE(IsEqualGUID(type.subtype, MEDIASUBTYPE_RGB24));
  EXPECT_TRUE(IsEqualGUID(type.formattype, FORMAT_VideoInfo));
  EXPECT_TRUE(type.bFixedSizeSamples);
  EXPECT_FALSE(type.bTemporalCompression);
  EXPECT_EQ(type.lSampleSize, 925440u);  // rows of 1926 bytes padded to 1928
  EXPECT_EQ(type.pUnk, nullptr);
  // Interlacing cannot be said in a VIDEOINFOHEADER; bytes 88 on are the zero colour table.
  ExpectBlock(type, Block(1128).Put(40, 333667, 8).Bitmap(48, 642, 480, 24, 0, 925440));
}

TEST(OfferedType, VideoInfo2BlockOf112Bytes) {
  struct Case {
    const char* keys;
    GUID subtype;
    uint32_t compression;
    int bits;
    uint32_t image;
    uint32_t interlace;
  };
  const Case cases[] = {
      {"w=720\nh=480\nfcc=YUY2\ninterlaced=1\n", MEDIASUBTYPE_YUY2, config::kFormatYUY2, 16, 691200,
       5},
      {"w=720\nh=480\nfcc=UYVY\ninterlaced=2\n", MEDIASUBTYPE_UYVY, config::kFormatUYVY, 16, 691200,
       1},
      {"w=320\nh=240\nfcc=RG32\n", MEDIASUBTYPE_RGB32, 0, 32, 307200, 0},
      {"w=640\nh=480\nfcc=HDYC\n",
       GUID{config::kFormatHDYC, 0, 0x10, {0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71}},
       config::kFormatHDYC, 16, 614400, 0},
  };
  for (const Case& c : cases) {
    StreamRig rig(std::string(c.keys) + "frame_time=400000\n", "use_video_info_header2=1\n");
    const config::Preset p = rig.pin->CurrentPreset();
    MediaType type;
    ASSERT_EQ(rig.pin->GetOfferedType(1, &type), S_OK);
    EXPECT_TRUE(IsEqualGUID(type.subtype, c.subtype)) << c.keys;
    EXPECT_TRUE(IsEqualGUID(type.formattype, FORMAT_VideoInfo2));
    EXPECT_EQ(type.lSampleSize, c.image);
    ExpectBlock(type, Block(112)
                          .Put(40, 400000, 8)
                          .Put(48, c.interlace, 4)
                          .Put(56, uint32_t(p.w), 4)  // square pixels: the frame size itself
                          .Put(60, uint32_t(p.h), 4)
                          .Bitmap(72, p.w, p.h, c.bits, c.compression, c.image));
  }
}

TEST(OfferedType, ListedTwiceThenNoMore) {
  StreamRig rig("w=320\nh=240\nfcc=YUY2\n");
  MediaType first, second, past;
  EXPECT_EQ(rig.pin->GetOfferedType(0, &first), S_OK);
  EXPECT_EQ(rig.pin->GetOfferedType(1, &second), S_OK);
  EXPECT_TRUE(first == second);
  EXPECT_EQ(rig.pin->GetOfferedType(2, &past), VFW_S_NO_MORE_ITEMS);
  EXPECT_EQ(rig.pin->GetOfferedType(-1, &past), E_INVALIDARG);
  EXPECT_EQ(rig.pin->GetOfferedType(0, nullptr), E_POINTER);
  // A type that already held a block is replaced without a leak of its old block.
  EXPECT_EQ(rig.pin->GetOfferedType(0, &first), S_OK);
  EXPECT_TRUE(first == second);
}

TEST(ProposedType, SameSizeAndFormatAcceptedEitherRowOrder) {
  for (const char* setting : {"use_video_info_header2=0\n", "use_video_info_header2=1\n"}) {
    StreamRig rig("w=640\nh=480\nfcc=YUY2\n", setting);
    const bool v2 = rig.pin->Settings().use_video_info_header2 != 0;
    MediaType type;
    ASSERT_EQ(rig.pin->GetOfferedType(0, &type), S_OK);
    EXPECT_EQ(rig.pin->CheckType(&type), S_OK);
    BITMAPINFOHEADER* header = const_cast<BITMAPINFOHEADER*>(FormatBitmapHeader(type, v2));
    header->biHeight = -480;
    EXPECT_EQ(rig.pin->CheckType(&type), S_OK) << setting;
    header->biWidth = 642;
    EXPECT_EQ(rig.pin->CheckType(&type), E_INVALIDARG) << setting;
    header->biWidth = 640;
    header->biBitCount = 24;
    EXPECT_EQ(rig.pin->CheckType(&type), E_INVALIDARG);
    header->biBitCount = 16;

    type.bFixedSizeSamples = FALSE;
    EXPECT_EQ(rig.pin->CheckType(&type), E_INVALIDARG);
    type.bFixedSizeSamples = TRUE;
    type.majortype = MEDIATYPE_Audio;
    EXPECT_EQ(rig.pin->CheckType(&type), E_INVALIDARG);
    type.majortype = MEDIATYPE_Video;
    type.cbFormat = v2 ? 111 : 87;  // shorter than the configured header
    EXPECT_EQ(rig.pin->CheckType(&type), E_INVALIDARG);
    type.cbFormat = v2 ? 112 : 1128;
    EXPECT_EQ(rig.pin->CheckType(nullptr), E_POINTER);
  }
}

TEST(AgreedType, RecordedEvenWhenItsPixelFormatDiffers) {
  StreamRig rig("w=640\nh=480\nfcc=YUY2\n");
  MediaType type;
  ASSERT_EQ(rig.pin->GetOfferedType(0, &type), S_OK);
  EXPECT_EQ(rig.pin->SetType(&type), S_OK);
  EXPECT_TRUE(rig.services.ConnectionType() == type);

  const_cast<BITMAPINFOHEADER*>(FormatBitmapHeader(type, false))->biCompression =
      config::kFormatUYVY;
  EXPECT_EQ(rig.pin->SetType(&type), E_UNEXPECTED);
  EXPECT_TRUE(rig.services.ConnectionType() == type);
  MediaType bare;
  EXPECT_EQ(rig.pin->SetType(&bare), E_UNEXPECTED);
}

// Grants what it is asked for, less buffer memory than asked, or fails.
class FakeAllocator final : public IMemAllocator {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* request,
                                          ALLOCATOR_PROPERTIES* actual) override {
    if (FAILED(result)) return result;
    *actual = *request;
    actual->cbBuffer -= shortfall;
    return result;
  }
  HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Commit() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Decommit() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample**, REFERENCE_TIME*, REFERENCE_TIME*,
                                      DWORD) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample*) override { return E_NOTIMPL; }

  HRESULT result = S_OK;
  long shortfall = 0;
};

TEST(BufferSizing, TheConfiguredCountOfImageSizedBuffers) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  {
    StreamRig rig("w=642\nh=480\nfcc=RG24\n", "buff_num=4\n");
    MediaType type;
    ASSERT_EQ(rig.pin->GetOfferedType(0, &type), S_OK);
    ASSERT_EQ(rig.pin->SetType(&type), S_OK);

    framework::ComPtr<IMemAllocator> allocator;
    ASSERT_EQ(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IMemAllocator, reinterpret_cast<void**>(&allocator)),
              S_OK);
    ALLOCATOR_PROPERTIES request = {0, 0, 1, 0};
    EXPECT_EQ(rig.pin->SizeBuffers(allocator.Get(), &request), S_OK);
    ALLOCATOR_PROPERTIES granted = {};
    ASSERT_EQ(allocator->GetProperties(&granted), S_OK);
    EXPECT_EQ(granted.cBuffers, 4);
    EXPECT_EQ(granted.cbBuffer, 925440);

    FakeAllocator stingy;
    stingy.shortfall = 1;
    EXPECT_EQ(rig.pin->SizeBuffers(&stingy, &request), E_FAIL);
    stingy.result = VFW_E_ALREADY_COMMITTED;
    EXPECT_EQ(rig.pin->SizeBuffers(&stingy, &request), VFW_E_ALREADY_COMMITTED);
    EXPECT_EQ(rig.pin->SizeBuffers(nullptr, &request), E_POINTER);

    // A peer's type without biSizeImage still gets buffers that hold the image.
    const_cast<BITMAPINFOHEADER*>(FormatBitmapHeader(type, false))->biSizeImage = 0;
    ASSERT_EQ(rig.pin->SetType(&type), S_OK);
    FakeAllocator exact;
    EXPECT_EQ(rig.pin->SizeBuffers(&exact, &request), S_OK);
    EXPECT_EQ(request.cbBuffer, 925440);
  }
  CoUninitialize();
}

}  // namespace
}  // namespace qp::stream::test
