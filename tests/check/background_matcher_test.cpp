// The background check against frames the frame code composes as the source does: the right
// frame number scores high and a neighbour clearly lower, in every format and field order,
// scaled and 4:2:0 too; the colour verdict names how an application decoded the frames.
#include "check/background_matcher.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/expected_frame.h"
#include "support/temp_dir.h"
#include "synth/bmp_test_picture.h"
#include "synth/pixel_format_code.h"

namespace qp::check {
namespace {

constexpr int32_t kCell = 8;

// Smooth, saturated colours: a shift of one scroll step changes most pixels, and the
// matrices disagree about them.
void Colour(int32_t x, int32_t y, uint8_t* bgr) {
  bgr[0] = static_cast<uint8_t>(128 + 110 * std::cos((x + y) / 6.0));
  bgr[1] = static_cast<uint8_t>(128 + 110 * std::sin(x / 9.0 - y / 4.0 + 1.0));
  bgr[2] = static_cast<uint8_t>(128 + 110 * std::sin(x / 5.0 + y / 7.0));
}

config::Preset MakePreset(uint32_t compression, int32_t bits, int32_t sx, int32_t sy,
                          int32_t interlaced = 0) {
  config::Preset p{};
  p.enable = 1, p.w = 144, p.h = 96, p.compression = compression, p.bit_count = bits;
  p.interlaced = interlaced, p.scroll_x = sx, p.scroll_y = sy;
  std::strcpy(p.bmp, "card.bmp");
  return p;
}

// A frame as the source stores it, text rows painted white.
struct Frame {
  std::vector<uint8_t> bytes;
  FrameView view;
};

Frame Compose(const config::Preset& p, const std::string& path, int32_t n) {
  test::ExpectedFrame drawn(p, path, "");
  EXPECT_TRUE(drawn.ok());
  drawn.DrawBackground(n);
  Frame f;
  f.bytes = drawn.bytes();
  const std::size_t text_bytes = static_cast<std::size_t>(kCell * drawn.stride());
  std::fill_n(f.bytes.begin(), text_bytes, 0xFF);
  std::fill_n(f.bytes.end() - text_bytes, text_bytes, 0xFF);
  f.view = ViewOfDib(f.bytes.data(), f.bytes.size(), p.w, p.h, p.compression, p.bit_count);
  return f;
}

class BackgroundMatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    synth::testing::BmpLayout layout;
    layout.width = 160, layout.height = 120;
    path = folder.Write("card.bmp", synth::testing::MakeBmp(layout, Colour));
  }
  ::qp::test::TempDir folder;
  std::string path;
};

TEST_F(BackgroundMatcherTest, RightFrameScoresHighAndNeighboursLowInEveryLayout) {
  const config::Preset presets[] = {
      MakePreset(synth::kFormatYUY2, 16, 2, 2),     MakePreset(synth::kFormatUYVY, 16, -4, 0),
      MakePreset(synth::kFormatHDYC, 16, 0, 2),     MakePreset(synth::kFormatRgb, 24, 2, -2),
      MakePreset(synth::kFormatRgb, 32, 4, 2, 1),   MakePreset(synth::kFormatYVYU, 16, 2, 2, 1),
      MakePreset(synth::kFormatYUY2, 16, -2, 2, 2), MakePreset(synth::kFormatRgb, 24, 2, 0, 2)};
  for (const config::Preset& p : presets) {
    SCOPED_TRACE(testing::Message() << "format " << p.compression << " bits " << p.bit_count
                                    << " interlaced " << p.interlaced);
    BackgroundMatcher matcher(p, folder.PathOf(""), kCell);
    ASSERT_TRUE(matcher.picture_loaded());
    for (int32_t n : {0, 7, 40}) {
      const Frame f = Compose(p, path, n);
      EXPECT_EQ(matcher.Psnr(f.view, n), kPsnrIdentical) << n;
      EXPECT_LT(matcher.Psnr(f.view, n + 1), 30.0) << n;
      EXPECT_LT(matcher.Psnr(f.view, n - 1), 30.0) << n;
    }
  }
}

// Block averages to planar Y'CbCr, chroma halved both ways again (4:2:0).
TEST_F(BackgroundMatcherTest, ScaledAndSubsampledRecordingsStillMatch) {
  const config::Preset p = MakePreset(synth::kFormatYUY2, 16, 2, 2);
  BackgroundMatcher matcher(p, folder.PathOf(""), kCell);
  for (int32_t k : {1, 2, 3}) {
    const Frame f = Compose(p, path, 9);
    const int32_t w = p.w / k, h = p.h / k;
    std::vector<uint8_t> planes[3];
    for (int c = 0; c < 3; ++c) {
      const int32_t shift = c == 0 ? 0 : 1;
      for (int32_t y = 0; y < h >> shift; ++y)
        for (int32_t x = 0; x < w >> shift; ++x) {
          const int32_t side = k << shift;
          int32_t sum = 0;
          for (int32_t j = 0; j < side; ++j)
            for (int32_t i = 0; i < side; ++i) sum += f.view.Sample(c, x * side + i, y * side + j);
          planes[c].push_back(static_cast<uint8_t>((sum + side * side / 2) / (side * side)));
        }
    }
    const FrameView view = ViewOfPlanarYCbCr(planes[0].data(), w, planes[1].data(), w / 2,
                                             planes[2].data(), w / 2, w, h, 1, 1);
    SCOPED_TRACE(k);
    EXPECT_GT(matcher.Psnr(view, 9), 42.0);
    EXPECT_LT(matcher.Psnr(view, 8), matcher.Psnr(view, 9) - 8.0);
    EXPECT_EQ(matcher.JudgeColour(view, 9).likely, ColourHandling::Bt601Limited);
  }
}

// The textbook 8-bit equations, as a player would apply them to the pair's chroma.
struct Decoding {
  ColourHandling handling;
  double y0, ys, rv, gu, gv, bu;
};
constexpr Decoding kDecodings[] = {
    {ColourHandling::Bt601Limited, 16, 1.164, 1.596, 0.392, 0.813, 2.017},
    {ColourHandling::Bt601Full, 0, 1.0, 1.402, 0.344136, 0.714136, 1.772},
    {ColourHandling::Bt709Limited, 16, 1.164, 1.793, 0.213, 0.533, 2.112},
    {ColourHandling::Bt709Full, 0, 1.0, 1.5748, 0.1873, 0.4681, 1.8556}};

std::vector<uint8_t> DecodeToRgb24(const FrameView& v, const Decoding& d) {
  std::vector<uint8_t> rgb;
  auto put = [&](double value) {
    rgb.push_back(uint8_t(std::clamp(std::lround(value), 0L, 255L)));
  };
  for (int32_t y = 0; y < v.height; ++y)
    for (int32_t x = 0; x < v.width; ++x) {
      const double l = (v.Sample(0, x, y) - d.y0) * d.ys, u = v.Sample(1, x, y) - 128.0,
                   w = v.Sample(2, x, y) - 128.0;
      put(l + d.rv * w), put(l - d.gu * u - d.gv * w), put(l + d.bu * u);
    }
  return rgb;
}

TEST_F(BackgroundMatcherTest, ColourVerdictNamesHowTheFramesWereDecoded) {
  for (uint32_t format : {synth::kFormatYUY2, synth::kFormatHDYC}) {
    const config::Preset p = MakePreset(format, 16, 2, 2);
    const ColourHandling own =
        format == synth::kFormatHDYC ? ColourHandling::Bt709Limited : ColourHandling::Bt601Limited;
    BackgroundMatcher matcher(p, folder.PathOf(""), kCell);
    const Frame f = Compose(p, path, 3);
    const ColourVerdict kept = matcher.JudgeColour(f.view, 3);  // the Y'CbCr as sent
    EXPECT_EQ(kept.likely, own);
    EXPECT_TRUE(kept.matches);
    EXPECT_LT(kept.error[int(own)], 0.5);
    for (const Decoding& d : kDecodings) {
      SCOPED_TRACE(ColourHandlingName(d.handling));
      const std::vector<uint8_t> rgb = DecodeToRgb24(f.view, d);
      const FrameView view = ViewOfRgb24(rgb.data(), p.w * 3, p.w, p.h);
      const ColourVerdict verdict = matcher.JudgeColour(view, 3);
      EXPECT_EQ(verdict.likely, d.handling);
      EXPECT_EQ(verdict.implied, own);
      EXPECT_EQ(verdict.matches, d.handling == own);
      EXPECT_GT(matcher.Psnr(view, 3), d.handling == own ? 45.0 : 0.0);
      if (d.handling != own) {
        EXPECT_LT(matcher.Psnr(view, 3), 40.0);
      }
    }
  }
}

TEST_F(BackgroundMatcherTest, RgbPresetsNeedNoMatrixUnlessRecordedAsYCbCr) {
  const config::Preset p = MakePreset(synth::kFormatRgb, 32, 2, 2);
  BackgroundMatcher matcher(p, folder.PathOf(""), kCell);
  const Frame f = Compose(p, path, 4);
  const ColourVerdict direct = matcher.JudgeColour(f.view, 4);
  EXPECT_EQ(direct.likely, ColourHandling::Rgb);
  EXPECT_TRUE(direct.matches);
  EXPECT_EQ(direct.rgb_error, 0.0);
  // 4:4:4 BT.709 limited, as an encoder of HD video would write it.
  std::vector<uint8_t> planes[3];
  for (int32_t y = 0; y < p.h; ++y)
    for (int32_t x = 0; x < p.w; ++x) {
      const double r = f.view.Sample(0, x, y), g = f.view.Sample(1, x, y),
                   b = f.view.Sample(2, x, y);
      const double l = 0.2126 * r + 0.7152 * g + 0.0722 * b;
      planes[0].push_back(uint8_t(std::lround(16 + l * 219 / 255)));
      planes[1].push_back(uint8_t(std::lround(128 + (b - l) / 1.8556 * 224 / 255)));
      planes[2].push_back(uint8_t(std::lround(128 + (r - l) / 1.5748 * 224 / 255)));
    }
  const FrameView yuv = ViewOfPlanarYCbCr(planes[0].data(), p.w, planes[1].data(), p.w,
                                          planes[2].data(), p.w, p.w, p.h, 0, 0);
  const ColourVerdict verdict = matcher.JudgeColour(yuv, 4);
  EXPECT_EQ(verdict.likely, ColourHandling::Bt709Limited);
  EXPECT_EQ(verdict.implied, ColourHandling::Unknown);
  EXPECT_TRUE(verdict.matches);
  EXPECT_GT(matcher.Psnr(yuv, 4), 45.0);
}

TEST_F(BackgroundMatcherTest, BadInputGivesDefinedResults) {
  config::Preset p = MakePreset(synth::kFormatYUY2, 16, 2, 2);
  const Frame f = Compose(p, path, 0);
  // A missing picture is the source's blank one: all-zero bytes.
  std::strcpy(p.bmp, "missing.bmp");
  BackgroundMatcher blank(p, folder.PathOf(""), kCell);
  EXPECT_TRUE(blank.ready());
  EXPECT_FALSE(blank.picture_loaded());
  const std::vector<uint8_t> zeros(f.bytes.size(), 0);
  EXPECT_EQ(blank.Psnr(ViewOfPacked422(zeros.data(), p.w * 2, p.w, p.h, "YUY2"), 5),
            kPsnrIdentical);
  EXPECT_LT(blank.Psnr(f.view, 0), 20.0);

  BackgroundMatcher matcher(MakePreset(synth::kFormatYUY2, 16, 2, 2), folder.PathOf(""), kCell);
  EXPECT_EQ(matcher.Psnr(FrameView{}, 0), kPsnrUnavailable);
  EXPECT_EQ(matcher.JudgeColour(FrameView{}, 0).samples, 0);
  FrameView tiny = f.view;  // shrunk beyond comparison, or only text rows left
  tiny.width = 8, tiny.height = 5;
  EXPECT_EQ(matcher.Psnr(tiny, 0), kPsnrUnavailable);
  EXPECT_EQ(BackgroundMatcher(p, folder.PathOf(""), p.h / 2).Psnr(f.view, 0), kPsnrUnavailable);
  EXPECT_NE(matcher.Psnr(f.view, INT32_MIN), kPsnrUnavailable);

  p.compression = synth::FourCC('N', 'V', '1', '2');
  BackgroundMatcher invalid(p, folder.PathOf(""), kCell);
  EXPECT_FALSE(invalid.ready());
  EXPECT_EQ(invalid.Psnr(f.view, 0), kPsnrUnavailable);
  EXPECT_EQ(invalid.JudgeColour(f.view, 0).likely, ColourHandling::Unknown);
}

}  // namespace
}  // namespace qp::check
