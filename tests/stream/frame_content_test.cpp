// What lands in the sample buffer: the scrolled background window per field and the two text
// lines at their places, in every pixel format and row order, rows at the padded stride; and
// that no later preset can make the composition leave the buffer or the pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "stream/status_text.h"
#include "stream/stream_test_doubles.h"
#include "synth/bmp_test_picture.h"

namespace qp::stream::test {
namespace {

constexpr uint8_t kUntouched = 0xA5;

struct Format {
  const char* fcc;
  int32_t width;
  int32_t bytesPerPixel;
};

// The frame the stream should compose, built from the pictures loaded the same way: buffer row
// i takes background line (top line of i + y offset of i's parity) from column (x offset of
// its parity); glyph cells of 2 × 2 whole inside the frame overwrite it.
class ExpectedFrame {
 public:
  ExpectedFrame(const config::Preset& preset, const synth::FrameImage& background,
                const synth::FrameImage& font)
      : w_(preset.w), h_(preset.h), rgb_(preset.compression == config::kFormatRgb),
        bpp_(background.bytesPerPixel()), stride_((w_ * bpp_ + 3) & ~3),
        bytes_(static_cast<std::size_t>(stride_) * h_, kUntouched), font_(font) {
    background_ = &background;
  }

  void Background(int32_t evenX, int32_t oddX, int32_t evenY, int32_t oddY) {
    for (int32_t i = 0; i < h_; ++i) {
      const int32_t x0 = (i & 1) ? oddX : evenX;
      const int32_t y0 = (i & 1) ? oddY : evenY;
      const int32_t line = (TopLine(i) + y0) % background_->height();
      for (int32_t x = 0; x < w_; ++x)
        std::memcpy(At(i, x), Pixel(*background_, (x + x0) % background_->width(), line), bpp_);
    }
  }

  void Text(int32_t x, int32_t y, const char* text) {
    const int32_t cw = font_.cellWidth();
    const int32_t ch = font_.cellHeight();
    for (const char* p = text; *p != '\0'; ++p) {
      if (*p == '#') {
        ++p;
        continue;
      }
      const int32_t code = static_cast<unsigned char>(*p);
      if (x >= 0 && x + cw <= w_ && y >= 0 && y + ch <= h_) {
        for (int32_t dy = 0; dy < ch; ++dy) {
          for (int32_t dx = 0; dx < cw; ++dx) {
            const uint8_t* from =
                Pixel(font_, code % 32 * cw + dx, (code - 32) / 32 * ch + dy);
            std::memcpy(At(BufferRow(y + dy), x + dx), from, bpp_);
          }
        }
      }
      x += cw;
    }
  }

  int32_t TextWidth(const char* text) const {
    int32_t cells = 0;
    for (const char* p = text; *p != '\0'; ++p) {
      if (*p == '#') ++p;
      else ++cells;
    }
    return cells * font_.cellWidth();
  }

  // The number of differing bytes, naming the first one.
  int Compare(const uint8_t* buffer) const {
    int differences = 0;
    for (std::size_t k = 0; k < bytes_.size(); ++k) {
      if (buffer[k] == bytes_[k]) continue;
      if (differences++ == 0)
        ADD_FAILURE() << "first difference at buffer row " << k / stride_ << ", byte "
                      << k % stride_ << ": " << int(buffer[k]) << " instead of " << int(bytes_[k]);
    }
    return differences;
  }

  std::size_t Size() const { return bytes_.size(); }

 private:
  int32_t TopLine(int32_t bufferRow) const { return rgb_ ? h_ - 1 - bufferRow : bufferRow; }
  int32_t BufferRow(int32_t topLine) const { return rgb_ ? h_ - 1 - topLine : topLine; }
  uint8_t* At(int32_t bufferRow, int32_t x) {
    return bytes_.data() + static_cast<std::size_t>(bufferRow) * stride_ + x * bpp_;
  }
  const uint8_t* Pixel(const synth::FrameImage& image, int32_t x, int32_t lineFromTop) const {
    const int32_t row = rgb_ ? image.height() - 1 - lineFromTop : lineFromTop;
    return image.Pixels() + static_cast<std::size_t>(row) * image.stride() + x * bpp_;
  }

  int32_t w_, h_;
  bool rgb_;
  int32_t bpp_, stride_;
  std::vector<uint8_t> bytes_;
  const synth::FrameImage* background_;
  const synth::FrameImage& font_;
};

// A rig whose preset shows pictures\bg.bmp (64 × 40, tiled to cover the frame) and comment
// "ab", with the reference pictures loaded as the stream loads them.
struct PictureRig : StreamRig {
  PictureRig(const Format& format, const std::string& extra)
      : StreamRig("w=" + std::to_string(format.width) + "\nh=60\nfcc=" + format.fcc +
                  "\nframe_time=333667\nbmp=pictures\\bg.bmp\ncomment=ab\n" + extra) {
    synth::testing::BmpLayout layout;
    layout.width = 64;
    layout.height = 40;
    std::filesystem::create_directories(env.Directory().Path() / "pictures");
    const std::string path = WriteFile("pictures/bg.bmp", synth::testing::MakeBmp(layout));
    const config::Preset preset = pin->CurrentPreset();
    EXPECT_TRUE(background.LoadPicture(path.c_str(), preset.w, preset.h, preset.compression,
                                       preset.bit_count));
    EXPECT_TRUE(font.LoadPicture(env.Directory().PathOf("font.bmp").c_str(), 0, 0,
                                 preset.compression, preset.bit_count));
    Start();
    origin_ms = env.NowMs();
  }

  // Fills one frame into `sample` and returns the expected one for the given offsets.
  ExpectedFrame Fill(FakeSample& sample, int32_t evenX, int32_t oddX, int32_t evenY,
                     int32_t oddY) {
    const config::Preset preset = pin->CurrentPreset();
    const int32_t frame = pin->frame_count();
    sample.Fill(kUntouched);
    EXPECT_EQ(pin->FillSample(&sample), S_OK);
    ExpectedFrame expected(preset, background, font);
    expected.Background(evenX, oddX, evenY, oddY);
    expected.Text(0, preset.h - font.cellHeight(), pin->header_line());
    char status[kTextSize];
    FormatStatusLine(status, preset.w, frame, 0,
                     static_cast<int32_t>(sample.stamped_at_ms - origin_ms), 0.0);
    expected.Text(preset.w - expected.TextWidth(status), 0, status);
    return expected;
  }

  synth::FrameImage background;
  synth::FrameImage font;
  double origin_ms = 0.0;
};

class FrameContent : public ::testing::TestWithParam<Format> {};

TEST_P(FrameContent, BackgroundWindowAndTextAtTheirPlaces) {
  PictureRig rig(GetParam(), "scroll_x=2\nscroll_y=2\n");
  // Rows at the padded stride: a 322-wide RGB 24 row is 966 bytes of pixels in 968.
  const int32_t stride = (GetParam().width * GetParam().bytesPerPixel + 3) & ~3;
  FakeSample sample(stride * 60, &rig.env);
  EXPECT_EQ(rig.Fill(sample, 0, 0, 0, 0).Compare(sample.Bytes()), 0) << "frame 0";
  EXPECT_EQ(rig.Fill(sample, 2, 2, 2, 2).Compare(sample.Bytes()), 0) << "frame 1 scrolled";
}

INSTANTIATE_TEST_SUITE_P(Formats, FrameContent,
                         ::testing::Values(Format{"RG32", 96, 4}, Format{"RG24", 322, 3},
                                           Format{"YUY2", 96, 2}, Format{"YVYU", 96, 2},
                                           Format{"UYVY", 96, 2}, Format{"HDYC", 96, 2}),
                         [](const auto& info) { return std::string(info.param.fcc); });

// Two fields one scroll step apart: at frame 3 with scroll_x 2, the earlier field is at
// x = 12 and the later at 14; progressive frames are at 6. scroll_y 0 centres the 80-line
// tiled background on the 60-line frame: y = 10.
TEST(FrameContentInterlaced, FieldsSwapWithTheMode) {
  struct Case {
    const char* mode;
    int32_t evenX, oddX;
  };
  const Case cases[] = {{"interlaced=1\n", 12, 14}, {"interlaced=2\n", 14, 12}, {"", 6, 6}};
  for (const Format& format : {Format{"YUY2", 96, 2}, Format{"RG32", 96, 4}}) {
    for (const Case& c : cases) {
      PictureRig rig(format, std::string("scroll_x=2\nscroll_y=0\n") + c.mode);
      EXPECT_EQ(rig.pin->origin_y(), 10);
      FakeSample sample(96 * format.bytesPerPixel * 60, &rig.env);
      for (int n = 0; n < 3; ++n) ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
      EXPECT_EQ(rig.Fill(sample, c.evenX, c.oddX, 10, 10).Compare(sample.Bytes()), 0)
          << format.fcc << " " << c.mode;
    }
  }
}

TEST(Pictures, PathsAreRelativeToTheModuleDirectory) {
  // A missing background is replaced by a blank one; the text is still drawn.
  StreamRig missing("w=96\nh=60\nfcc=RG32\nbmp=pictures\\none.bmp\n");
  missing.Start();
  FakeSample sample(96 * 4 * 60, &missing.env);
  sample.Fill(kUntouched);
  ASSERT_EQ(missing.pin->FillSample(&sample), S_OK);
  int zeros = 0;
  for (int k = 0; k < 96 * 4 * 60; ++k) zeros += sample.Bytes()[k] == 0;
  EXPECT_GT(zeros, 96 * 4 * 40);
  EXPECT_LT(zeros, 96 * 4 * 60);

  // A 640 × 960 picture for a 640 × 480 frame is centred when it does not scroll vertically.
  synth::testing::BmpLayout tall;
  tall.width = 640;
  tall.height = 960;
  for (const auto& [scroll, origin] : {std::pair{"0", 240}, std::pair{"2", 0}}) {
    StreamRig rig(std::string("w=640\nh=480\nfcc=RG24\nbmp=tall.bmp\nscroll_y=") + scroll + "\n");
    rig.WriteFile("tall.bmp", synth::testing::MakeBmp(tall));
    rig.Start();
    EXPECT_EQ(rig.pin->origin_y(), origin);
  }

  // Without a readable glyph sheet the stream cannot start.
  StreamRig noFont("w=96\nh=60\nfcc=RG32\n");
  std::filesystem::remove(noFont.env.Directory().Path() / "font.bmp");
  EXPECT_EQ(noFont.pin->OnThreadStart(), E_OUTOFMEMORY);
  EXPECT_EQ(noFont.pin->OnThreadStop(), S_OK);
}

// The system environment reads QuorPlemo.ini beside the module; there is none beside the test
// program, so the single default preset has no glyph sheet.
TEST(Pictures, WithoutAnIniFileTheStreamCannotStart) {
  FakeEnvironment clock;
  FakeServices services(clock);
  HRESULT created = S_OK;
  HostFilter host;
  VideoStreamPin pin(&created, &host, L"Quor Plemo", SystemStreamEnvironment(), &services);
  EXPECT_EQ(created, S_OK);
  EXPECT_EQ(pin.Settings().preset_num, 1);
  EXPECT_EQ(pin.OnThreadStart(), E_OUTOFMEMORY);
  EXPECT_EQ(pin.OnThreadStop(), S_OK);
}

// A format chosen after start-up (IAMStreamConfig::SetFormat) changes the frame under pictures
// built for the old one, and the buffer may still be sized for the old connection. The sample
// ends at an inaccessible page: any write past it faults.
TEST(PresetChange, NeverLeavesTheBufferOrThePictures) {
  PictureRig rig(Format{"RG32", 96, 4}, "scroll_x=2\nscroll_y=2\n");
  FakeSample small(96 * 4 * 60, &rig.env);
  FakeSample large(320 * 4 * 240, &rig.env);
  config::Preset preset = rig.pin->CurrentPreset();

  preset.w = 320;  // bigger than the background built at start-up (128 × 80)
  preset.h = 240;
  rig.pin->SelectPreset(preset);
  EXPECT_EQ(rig.pin->FillSample(&small), S_OK);
  large.Fill(kUntouched);
  EXPECT_EQ(rig.pin->FillSample(&large), S_OK);
  // The last buffer row is the frame's top line: the background wraps, every pixel is drawn.
  EXPECT_EQ(std::memcmp(large.Bytes() + 239 * 1280, large.Bytes() + 239 * 1280 + 128 * 4, 64), 0);

  preset.w = 16384;  // the largest frame a preset can have, into the old buffer
  preset.h = 16384;
  rig.pin->SelectPreset(preset);
  EXPECT_EQ(rig.pin->FillSample(&small), S_OK);

  preset.w = 96;  // another pixel format than the pictures: no background, no text
  preset.h = 60;
  preset.compression = config::kFormatYUY2;
  preset.bit_count = 16;
  rig.pin->SelectPreset(preset);
  small.Fill(kUntouched);
  EXPECT_EQ(rig.pin->FillSample(&small), S_OK);
  EXPECT_EQ(std::count(small.Bytes(), small.Bytes() + 96 * 4 * 60, 0), 96 * 4 * 60);
}

TEST(Restart, CountersAndSampleTimesStartAgain) {
  StreamRig rig("w=96\nh=60\nfcc=YUY2\nframe_time=333667\n");
  rig.Start();
  FakeSample sample(96 * 2 * 60, &rig.env);
  for (int n = 0; n < 3; ++n) ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
  rig.env.Advance(500.0);
  ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
  EXPECT_EQ(rig.pin->drop_count(), 1);
  EXPECT_EQ(rig.pin->OnThreadStop(), S_OK);

  rig.Start();
  ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
  EXPECT_EQ(sample.start, 0);
  EXPECT_EQ(rig.pin->frame_count(), 1);
  EXPECT_EQ(rig.pin->drop_count(), 0);
}

}  // namespace
}  // namespace qp::stream::test
