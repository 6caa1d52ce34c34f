// The plan of a frame and the frame composed from it, natively: windows that wrap with the
// 32-bit frame count, field order, the buffer's row order and stride. The stream's own frames
// are checked against an independent drawing in tests/stream/frame_content_test.cpp.
#include "frame/frame_plan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "frame/frame_composition.h"
#include "frame/frame_layout.h"
#include "support/temp_dir.h"
#include "synth/bmp_test_picture.h"
#include "synth/frame_image.h"
#include "synth/pixel_format.h"

namespace qp::frame::test {
namespace {

config::Preset MakePreset(uint32_t compression, int32_t bits, int32_t sx, int32_t sy,
                          int32_t interlaced = 0) {
  config::Preset p{};
  p.w = 64, p.h = 48, p.compression = compression, p.bit_count = bits;
  p.scroll_x = sx, p.scroll_y = sy, p.interlaced = interlaced;
  return p;
}

TEST(FramePlan, WindowsScrollAndWrapWithTheFrameCount) {
  const config::Preset p = MakePreset(config::kFormatYUY2, 16, 6, -4);
  const FramePlan plan = PlanFrame(p, 10, 3);
  EXPECT_EQ(plan.top_field, (Window{18, -2}));
  EXPECT_EQ(plan.bottom_field, plan.top_field);
  // The count wraps past 2^31 into negative numbers; the windows go on in 32 bits.
  EXPECT_EQ(PlanFrame(p, 10, -1).top_field, (Window{-6, 14}));
  EXPECT_EQ(PlanFrame(p, 10, INT32_MIN).top_field, (Window{0, 10}));
  const config::Preset big = MakePreset(config::kFormatYUY2, 16, 0x40000000, 0);
  EXPECT_EQ(PlanFrame(big, 0, 3).top_field.column, static_cast<int32_t>(0xC0000000u));
}

TEST(FramePlan, FieldsAreOneStepApartInTheModesOrder) {
  for (int32_t mode : {1, 2}) {
    const FramePlan plan = PlanFrame(MakePreset(config::kFormatRgb, 24, 2, 4, mode), 0, 5);
    const Window early{20, 40};
    const Window late{22, 44};
    EXPECT_EQ(plan.top_field, mode == 1 ? early : late) << mode;
    EXPECT_EQ(plan.bottom_field, mode == 1 ? late : early) << mode;
  }
  // Any other value is progressive.
  const FramePlan plan = PlanFrame(MakePreset(config::kFormatRgb, 24, 2, 4, 3), 0, 5);
  EXPECT_EQ(plan.top_field, (Window{10, 20}));
  EXPECT_EQ(plan.bottom_field, plan.top_field);
}

TEST(FramePlan, RowWindowsFollowTheFormatsRowOrder) {
  const Window top{1, 2};
  const Window bottom{3, 4};
  const FramePlan plan{top, bottom};
  // RGB counts rows from the bottom: with an even height, row 0 is an odd line from the top.
  const RowWindows rgb_even = WindowsByRow(plan, MakePreset(config::kFormatRgb, 32, 0, 0), 48);
  EXPECT_EQ(rgb_even.even, bottom);
  EXPECT_EQ(rgb_even.odd, top);
  const RowWindows rgb_odd = WindowsByRow(plan, MakePreset(config::kFormatRgb, 32, 0, 0), 47);
  EXPECT_EQ(rgb_odd.even, top);
  const RowWindows packed = WindowsByRow(plan, MakePreset(config::kFormatUYVY, 16, 0, 0), 48);
  EXPECT_EQ(packed.even, top);
  EXPECT_EQ(packed.odd, bottom);
}

TEST(FrameLayout, StrideRowOrderAndSmallBuffers) {
  config::Preset p = MakePreset(config::kFormatRgb, 24, 0, 0);
  p.w = 62;  // 186 bytes of pixels, padded to 188
  std::vector<uint8_t> buffer(188 * 48);
  synth::FrameBuffer frame;
  ASSERT_TRUE(LayoutFrame(p, false, buffer.data(), buffer.size(), frame));
  EXPECT_EQ(frame.pitch, 188);
  EXPECT_EQ(frame.row_pixels, 62);
  EXPECT_EQ(frame.rows, 48);
  EXPECT_FALSE(frame.reversed);
  ASSERT_TRUE(LayoutFrame(p, true, buffer.data(), buffer.size(), frame));
  EXPECT_TRUE(frame.reversed);
  // A buffer short of the stride takes rows of the whole pixels it has room for.
  ASSERT_TRUE(LayoutFrame(p, false, buffer.data(), 150 * 48, frame));
  EXPECT_EQ(frame.pitch, 150);
  EXPECT_EQ(frame.row_pixels, 50);
  EXPECT_FALSE(LayoutFrame(p, false, buffer.data(), 47, frame));
  // 4:2:2 rows are top-down whatever the connection says.
  const config::Preset packed = MakePreset(config::kFormatYUY2, 16, 0, 0);
  ASSERT_TRUE(LayoutFrame(packed, true, buffer.data(), buffer.size(), frame));
  EXPECT_FALSE(frame.reversed);
  EXPECT_EQ(frame.pitch, 128);
  // A bit count the format does not have gives no frame.
  EXPECT_FALSE(LayoutFrame(MakePreset(config::kFormatYUY2, 24, 0, 0), false, buffer.data(),
                           buffer.size(), frame));
}

// Frame line t from the top shows picture line (window line + t), from the window's column on,
// wrapping, whichever order the rows are stored in.
class ComposedBackground : public ::testing::Test {
 protected:
  void SetUp() override {
    synth::testing::BmpLayout layout;
    layout.width = 80, layout.height = 60;
    path_ = folder_.Write("card.bmp", synth::testing::MakeBmp(layout));
  }

  void ExpectPlacement(const config::Preset& p, bool top_down_connection, int32_t n) {
    synth::FrameImage picture;
    ASSERT_TRUE(picture.LoadPicture(path_.c_str(), p.w, p.h, p.compression, p.bit_count));
    std::vector<uint8_t> buffer(static_cast<std::size_t>(AgreedStride(p)) * p.h);
    synth::FrameBuffer frame;
    ASSERT_TRUE(LayoutFrame(p, top_down_connection, buffer.data(), buffer.size(), frame));
    const int32_t origin = CentringOrigin(p, picture.height());
    ASSERT_TRUE(ComposeBackground(picture, p, origin, n, frame));
    const FramePlan plan = PlanFrame(p, origin, n);
    const int64_t bpp = picture.bytes_per_pixel();
    const bool rgb = p.compression == config::kFormatRgb;
    for (int32_t t = 0; t < p.h; ++t) {
      const Window& window = t % 2 == 0 ? plan.top_field : plan.bottom_field;
      const int64_t line =
          ((int64_t{window.line} + t) % picture.height() + picture.height()) % picture.height();
      const int64_t column =
          (int64_t{window.column} % picture.width() + picture.width()) % picture.width();
      const uint8_t* from =
          picture.Pixels() + (rgb ? picture.height() - 1 - line : line) * picture.stride();
      const uint8_t* to = synth::RowStart(frame, rgb ? p.h - 1 - t : t);
      for (int32_t x = 0; x < p.w; x += 7) {
        const int64_t at = (column + x) % picture.width();
        ASSERT_EQ(std::memcmp(to + x * bpp, from + at * bpp, static_cast<std::size_t>(bpp)), 0)
            << "line " << t << " column " << x;
      }
    }
  }

  ::qp::test::TempDir folder_;
  std::string path_;
};

TEST_F(ComposedBackground, EveryFieldShowsItsWindowInEveryRowOrder) {
  for (int32_t mode : {0, 1, 2}) {
    SCOPED_TRACE(mode);
    ExpectPlacement(MakePreset(config::kFormatRgb, 24, 2, 2, mode), false, 7);
    ExpectPlacement(MakePreset(config::kFormatRgb, 32, -4, 2, mode), true, 7);
    ExpectPlacement(MakePreset(config::kFormatYUY2, 16, 2, -2, mode), false, 7);
    ExpectPlacement(MakePreset(config::kFormatHDYC, 16, 4, 0, mode), true, -3);
  }
  // Still vertically: the taller picture is centred.
  ExpectPlacement(MakePreset(config::kFormatUYVY, 16, 2, 0), false, 1);
}

}  // namespace
}  // namespace qp::frame::test
