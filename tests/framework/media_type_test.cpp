// The owning media-type record: what equality and partial matching look at, ownership of the
// format block and the pUnk reference across copies and transfers, the block reuse rules, and
// the bitmap image sizes and subtypes.
#include <gtest/gtest.h>

#include <dshow.h>

#include <cstring>

#include "framework/media_type.h"
#include "support/fake_com.h"

namespace qp::framework {
namespace {

using testing::CountingUnknown;

void MakeVideo(MediaType& type, const char* format) {
  type.SetMajorType(MEDIATYPE_Video);
  type.SetSubtype(MEDIASUBTYPE_YUY2);
  type.SetFormatType(FORMAT_VideoInfo);
  ASSERT_TRUE(type.SetFormat(format, static_cast<ULONG>(std::strlen(format))));
}

TEST(MediaTypeCompare, GuidsAndFormatBytesOnly) {
  MediaType a, b;
  EXPECT_EQ(a.bFixedSizeSamples, TRUE);
  EXPECT_EQ(a.lSampleSize, 1u);
  MakeVideo(a, "format");
  MakeVideo(b, "format");
  b.SetSampleSize(1234);
  b.SetTemporalCompression(true);
  EXPECT_TRUE(a == b);
  MakeVideo(b, "formaT");
  EXPECT_FALSE(a == b);
  MakeVideo(b, "form");
  EXPECT_FALSE(a == b);

  MediaType partial;
  EXPECT_TRUE(partial.IsPartial());
  EXPECT_FALSE(partial.IsValidType());
  EXPECT_TRUE(MatchesPartially(a, partial));
  partial.SetMajorType(MEDIATYPE_Video);
  EXPECT_TRUE(partial.IsPartial()) << "no format type";
  EXPECT_TRUE(MatchesPartially(a, partial));
  partial.SetSubtype(MEDIASUBTYPE_UYVY);
  EXPECT_FALSE(MatchesPartially(a, partial));
  partial.SetSubtype(GUID_NULL);
  partial.SetFormatType(FORMAT_VideoInfo);
  EXPECT_FALSE(MatchesPartially(a, partial)) << "format bytes differ";
  ASSERT_TRUE(partial.SetFormat("format", 6));
  EXPECT_TRUE(MatchesPartially(a, partial));
}

TEST(MediaTypeOwnership, CopiesOwnTheirBlockAndReference) {
  CountingUnknown unknown;
  {
    MediaType source;
    MakeVideo(source, "abc");
    source.pUnk = &unknown;
    unknown.AddRef();
    MediaType copy;
    ASSERT_EQ(copy.Assign(source), S_OK);
    EXPECT_EQ(unknown.count, 3u);
    EXPECT_NE(copy.pbFormat, source.pbFormat);
    EXPECT_TRUE(copy == source);
    EXPECT_EQ(copy.Assign(copy), S_OK);
    EXPECT_EQ(unknown.count, 3u);

    // A record handed out in task memory takes the block and the reference over.
    AM_MEDIA_TYPE* record = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    BYTE* block = copy.pbFormat;
    copy.TransferTo(*record);
    EXPECT_EQ(record->pbFormat, block);
    EXPECT_EQ(copy.cbFormat, 0u);
    EXPECT_EQ(copy.pUnk, nullptr);
    DeleteType(record);
    DeleteType(nullptr);
    EXPECT_EQ(unknown.count, 2u);
  }
  EXPECT_EQ(unknown.count, 1u);
}

// A caller's record may claim a block it does not carry: copying refuses it without reading,
// keeps the reference rules of a failed copy, and comparisons do not read it either.
TEST(MediaTypeOwnership, ClaimedButMissingBlockIsRefusedUnread) {
  CountingUnknown unknown;
  AM_MEDIA_TYPE claimed{};
  claimed.majortype = MEDIATYPE_Video;
  claimed.formattype = FORMAT_VideoInfo;
  claimed.cbFormat = 88;
  claimed.pUnk = &unknown;
  {
    MediaType copy;
    MakeVideo(copy, "old block");
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, copy.Assign(claimed));
    EXPECT_EQ(copy.cbFormat, 0u);
    EXPECT_EQ(copy.pbFormat, nullptr);
    EXPECT_EQ(unknown.count, 2u);

    AM_MEDIA_TYPE raw{};
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, CopyType(raw, claimed));
    EXPECT_EQ(raw.cbFormat, 0u);
    EXPECT_EQ(raw.pbFormat, nullptr);
    FreeFormat(raw);
    EXPECT_EQ(unknown.count, 2u);

    MediaType real;
    MakeVideo(real, "12345678");
    real.AllocFormat(88);
    AM_MEDIA_TYPE twin = claimed;
    EXPECT_FALSE(TypesEqual(claimed, real));
    EXPECT_FALSE(TypesEqual(real, claimed));
    EXPECT_FALSE(TypesEqual(claimed, twin)) << "two missing blocks are not the same bytes";
    EXPECT_TRUE(TypesEqual(claimed, claimed));
    EXPECT_FALSE(MatchesPartially(real, claimed));

    EXPECT_FALSE(real.SetFormat(nullptr, 4));
    EXPECT_EQ(real.cbFormat, 88u);
    EXPECT_TRUE(real.SetFormat(nullptr, 0));
  }
  EXPECT_EQ(unknown.count, 1u);
}

TEST(MediaTypeFormat, AllocFormatReusesOnlyTheSameLength) {
  MediaType type;
  EXPECT_EQ(type.AllocFormat(0), nullptr);
  BYTE* block = type.AllocFormat(16);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(type.AllocFormat(16), block);
  BYTE* smaller = type.AllocFormat(8);
  ASSERT_NE(smaller, nullptr);
  EXPECT_EQ(type.cbFormat, 8u);

  type.SetSampleSize(0);
  EXPECT_FALSE(type.bFixedSizeSamples);
  EXPECT_EQ(type.lSampleSize, 1u);
  type.SetSampleSize(500);
  EXPECT_TRUE(type.bFixedSizeSamples);
  EXPECT_EQ(type.lSampleSize, 500u);
}

BITMAPINFOHEADER Header(int32_t w, int32_t h, int bits, DWORD compression) {
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof header;
  header.biWidth = w;
  header.biHeight = h;
  header.biBitCount = static_cast<WORD>(bits);
  header.biCompression = compression;
  return header;
}

TEST(BitmapHelpers, ImageSizeRoundsRowsToWords) {
  EXPECT_EQ(BitmapImageSize(Header(640, -480, 24, BI_RGB)), 921600u);
  EXPECT_EQ(BitmapImageSize(Header(3, 2, 24, BI_RGB)), 24u);
  EXPECT_EQ(BitmapImageSize(Header(642, 480, 24, BI_RGB)), 925440u);
  EXPECT_EQ(BitmapImageSize(Header(640, 480, 16, MAKEFOURCC('Y', 'U', 'Y', '2'))), 614400u);
}

TEST(BitmapHelpers, SubtypesByCodeBitsAndMasks) {
  EXPECT_TRUE(IsEqualGUID(BitmapSubtype(Header(1, 1, 16, MAKEFOURCC('Y', 'U', 'Y', '2'))),
                          MEDIASUBTYPE_YUY2));
  EXPECT_TRUE(IsEqualGUID(BitmapSubtype(Header(1, 1, 24, BI_RGB)), MEDIASUBTYPE_RGB24));
  EXPECT_TRUE(IsEqualGUID(BitmapSubtype(Header(1, 1, 32, BI_RGB)), MEDIASUBTYPE_RGB32));
  EXPECT_TRUE(IsEqualGUID(BitmapSubtype(Header(1, 1, 8, BI_RGB)), MEDIASUBTYPE_RGB8));
  EXPECT_TRUE(IsEqualGUID(BitmapSubtype(Header(1, 1, 16, BI_RGB)), MEDIASUBTYPE_RGB555));
  EXPECT_TRUE(IsEqualGUID(BitmapSubtype(Header(1, 1, 12, BI_RGB)), GUID_NULL));

  struct {
    BITMAPINFOHEADER header;
    DWORD masks[3];
  } with_masks = {Header(1, 1, 16, BI_BITFIELDS), {0xF800, 0x07E0, 0x001F}};
  EXPECT_TRUE(IsEqualGUID(BitmapSubtype(with_masks.header), MEDIASUBTYPE_RGB565));
  with_masks.masks[0] = 0x7C00;
  with_masks.masks[1] = 0x03E0;
  EXPECT_TRUE(IsEqualGUID(BitmapSubtype(with_masks.header), MEDIASUBTYPE_RGB555));
  with_masks.masks[2] = 0x00FF;
  EXPECT_TRUE(IsEqualGUID(BitmapSubtype(with_masks.header), GUID_NULL));
}

}  // namespace
}  // namespace qp::framework
