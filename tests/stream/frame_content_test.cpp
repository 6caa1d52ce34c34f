// What lands in the sample buffer: the scrolled background window per field and the two text
// lines at their places, in every pixel format and in the row order the connection agreed,
// rows at the padded stride; the field order the media type signals; the measured rate in the
// status line; and that no later preset can make the composition leave the buffer or the
// pictures.
#include <windows.h>

#include <dshow.h>
#include <dvdmedia.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "frame/status_text.h"
#include "support/stream_test_doubles.h"
#include "stream/video_media_type.h"
#include "synth/bmp_test_picture.h"

namespace qp::stream::test {
namespace {

constexpr uint8_t kUntouched = 0xA5;

struct Format {
  const char* fcc;
  int32_t width;
  int32_t bytes_per_pixel;
  bool top_down = false;  // connect with a negative biHeight
};

// The frame the stream should compose, built from the pictures loaded the same way: frame line
// t (from the top) takes background line t + the y offset of its field from column (the x
// offset of its field); glyph cells of 2 × 2 whole inside the frame overwrite it. Line t lies in
// buffer row t when the rows are top-down (4:2:2 always, RGB for a top-down connection), in
// row h − 1 − t otherwise.
class ExpectedFrame {
 public:
  ExpectedFrame(const config::Preset& preset, const synth::FrameImage& background,
                const synth::FrameImage& font, bool top_down_connection)
      : w_(preset.w),
        h_(preset.h),
        rgb_(preset.compression == config::kFormatRgb),
        top_down_rows_(!rgb_ || top_down_connection),
        bpp_(background.bytes_per_pixel()),
        stride_((w_ * bpp_ + 3) & ~3),
        bytes_(static_cast<std::size_t>(stride_) * h_, kUntouched),
        font_(font) {
    background_ = &background;
  }

  // Offsets of the top field (lines 0, 2, 4, … from the top) and of the bottom field.
  void Background(int32_t top_x, int32_t bottom_x, int32_t top_y, int32_t bottom_y) {
    for (int32_t i = 0; i < h_; ++i) {
      const bool bottom_field = TopLine(i) & 1;
      const int32_t x0 = bottom_field ? bottom_x : top_x;
      const int32_t y0 = bottom_field ? bottom_y : top_y;
      const int32_t line = (TopLine(i) + y0) % background_->height();
      for (int32_t x = 0; x < w_; ++x)
        std::memcpy(At(i, x), Pixel(*background_, (x + x0) % background_->width(), line), bpp_);
    }
  }

  void Text(int32_t x, int32_t y, const char* text) {
    const int32_t cw = font_.cell_width();
    const int32_t ch = font_.cell_height();
    for (const char* p = text; *p != '\0'; ++p) {
      if (*p == '#') {
        ++p;
        continue;
      }
      const int32_t code = static_cast<unsigned char>(*p);
      if (x >= 0 && x + cw <= w_ && y >= 0 && y + ch <= h_) {
        for (int32_t dy = 0; dy < ch; ++dy) {
          for (int32_t dx = 0; dx < cw; ++dx) {
            const uint8_t* from = Pixel(font_, code % 32 * cw + dx, (code - 32) / 32 * ch + dy);
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
      if (*p == '#')
        ++p;
      else
        ++cells;
    }
    return cells * font_.cell_width();
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
  int32_t TopLine(int32_t buffer_row) const {
    return top_down_rows_ ? buffer_row : h_ - 1 - buffer_row;
  }
  int32_t BufferRow(int32_t top_line) const { return TopLine(top_line); }
  uint8_t* At(int32_t buffer_row, int32_t x) {
    return bytes_.data() + static_cast<std::size_t>(buffer_row) * stride_ + x * bpp_;
  }
  const uint8_t* Pixel(const synth::FrameImage& image, int32_t x, int32_t line_from_top) const {
    const int32_t row = rgb_ ? image.height() - 1 - line_from_top : line_from_top;
    return image.Pixels() + static_cast<std::size_t>(row) * image.stride() + x * bpp_;
  }

  int32_t w_, h_;
  bool rgb_;
  bool top_down_rows_;
  int32_t bpp_, stride_;
  std::vector<uint8_t> bytes_;
  const synth::FrameImage* background_;
  const synth::FrameImage& font_;
};

// A rig whose preset shows pictures\bg.bmp (64 × 40, tiled to cover the frame) and comment
// "ab", with the reference pictures loaded as the stream loads them, connected with the
// offered type or its top-down form. Keys in `extra` come first, so they win.
struct PictureRig : StreamRig {
  PictureRig(const Format& format, const std::string& extra, const std::string& main = "")
      : StreamRig(extra + "w=" + std::to_string(format.width) + "\nh=60\nfcc=" + format.fcc +
                      "\nframe_time=333667\nbmp=pictures\\bg.bmp\ncomment=ab\n",
                  main),
        top_down(format.top_down) {
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
    Connect();
    Start();
    origin_ms = env.NowMs();
  }

  // The offered type, agreed through CheckType and SetType as a downstream pin would.
  void Connect() {
    framework::MediaType type;
    ASSERT_EQ(pin->GetOfferedType(0, &type), S_OK);
    const bool video_info2 = pin->Settings().use_video_info_header2 != 0;
    auto* header = const_cast<BITMAPINFOHEADER*>(FormatBitmapHeader(type, video_info2));
    ASSERT_NE(header, nullptr);
    if (top_down) header->biHeight = -header->biHeight;
    ASSERT_EQ(pin->CheckType(&type), S_OK);
    ASSERT_EQ(pin->SetType(&type), S_OK);
    if (video_info2)
      interlace_flags = reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat)->dwInterlaceFlags;
  }

  // Fills one frame into `sample` and returns the expected one for the given field offsets.
  ExpectedFrame Fill(FakeSample& sample, int32_t top_x, int32_t bottom_x, int32_t top_y,
                     int32_t bottom_y) {
    const int32_t frame = pin->frame_count();
    sample.Fill(kUntouched);
    EXPECT_EQ(pin->FillSample(&sample), S_OK);
    return Expected(sample, frame, top_x, bottom_x, top_y, bottom_y, 0.0);
  }

  // The frame `frame` just filled into `sample` should be, with `fps` printed as its rate.
  ExpectedFrame Expected(const FakeSample& sample, int32_t frame, int32_t top_x, int32_t bottom_x,
                         int32_t top_y, int32_t bottom_y, double fps) {
    const config::Preset preset = pin->CurrentPreset();
    ExpectedFrame expected(preset, background, font, top_down);
    expected.Background(top_x, bottom_x, top_y, bottom_y);
    expected.Text(0, preset.h - font.cell_height(), pin->header_line());
    char status[qp::frame::kTextSize];
    qp::frame::FormatStatusLine(status, preset.w, frame, 0,
                                static_cast<int32_t>(sample.stamped_at_ms - origin_ms), fps);
    expected.Text(preset.w - expected.TextWidth(status), 0, status);
    return expected;
  }

  bool top_down;
  DWORD interlace_flags = 0;
  synth::FrameImage background;
  synth::FrameImage font;
  double origin_ms = 0.0;
};

class FrameContent : public ::testing::TestWithParam<Format> {};

TEST_P(FrameContent, BackgroundWindowAndTextAtTheirPlaces) {
  PictureRig rig(GetParam(), "scroll_x=2\nscroll_y=2\n");
  // Rows at the padded stride: a 322-wide RGB 24 row is 966 bytes of pixels in 968.
  const int32_t stride = (GetParam().width * GetParam().bytes_per_pixel + 3) & ~3;
  FakeSample sample(stride * 60, &rig.env);
  EXPECT_EQ(rig.Fill(sample, 0, 0, 0, 0).Compare(sample.Bytes()), 0) << "frame 0";
  EXPECT_EQ(rig.Fill(sample, 2, 2, 2, 2).Compare(sample.Bytes()), 0) << "frame 1 scrolled";
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FrameContent,
    ::testing::Values(Format{"RG32", 96, 4}, Format{"RG24", 322, 3}, Format{"YUY2", 96, 2},
                      Format{"YVYU", 96, 2}, Format{"UYVY", 96, 2}, Format{"HDYC", 96, 2},
                      Format{"RG32", 96, 4, true}, Format{"RG24", 322, 3, true},
                      Format{"YUY2", 96, 2, true}),
    [](const auto& info) {
      return std::string(info.param.fcc) + (info.param.top_down ? "TopDown" : "");
    });

// Independent of the reference frame: the picture's top-left pixel and the one below it, read
// where a renderer of the agreed type looks for the frame's top lines. 4:2:2 rows are top-down
// whatever the sign of biHeight.
TEST(FrameOrientation, TopLinesWhereTheAgreedTypeSaysTheyAre) {
  for (const Format& format :
       {Format{"RG32", 96, 4}, Format{"RG32", 96, 4, true}, Format{"RG24", 322, 3},
        Format{"RG24", 322, 3, true}, Format{"YUY2", 96, 2, true}}) {
    PictureRig rig(format, "scroll_y=2\n");  // no centring: frame line t is picture line t
    const int32_t stride = (format.width * format.bytes_per_pixel + 3) & ~3;
    FakeSample sample(stride * 60, &rig.env);
    ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
    const bool rows_top_down = format.top_down || format.bytes_per_pixel == 2;
    for (int32_t line : {0, 1}) {
      const uint8_t* at = sample.Bytes() + stride * (rows_top_down ? line : 59 - line);
      if (format.bytes_per_pixel == 2) {
        // The reference picture's first pixel pair, converted as the stream converts it.
        const uint8_t* pair = rig.background.Pixels() + line * rig.background.stride();
        EXPECT_EQ(std::memcmp(at, pair, 4), 0) << format.fcc << " line " << line;
        continue;
      }
      uint8_t bgr[3];
      synth::testing::PatternColour(0, line, bgr);
      EXPECT_EQ(std::memcmp(at, bgr, 3), 0)
          << format.fcc << (format.top_down ? " top-down" : " bottom-up") << " line " << line;
    }
  }
}

// The field order the media type signals is what the pixels show: with AMINTERLACE_Field1First
// the top field (the picture's first line and every second one below it) holds the earlier of
// the two scroll positions, without it the bottom field does. At frame 3 with scroll_x 2 the
// earlier position is x = 12 and the later 14; progressive frames are at 6. scroll_y 0 centres
// the 80-line tiled background on the 60-line frame: y = 10.
TEST(FrameContentInterlaced, SignalledFieldOrderMatchesThePixels) {
  for (const Format& format :
       {Format{"YUY2", 96, 2}, Format{"RG32", 96, 4}, Format{"RG32", 96, 4, true},
        Format{"RG24", 96, 3}, Format{"UYVY", 96, 2, true}}) {
    for (const char* mode : {"interlaced=1\n", "interlaced=2\n", "interlaced=0\n"}) {
      PictureRig rig(format, std::string("scroll_x=2\nscroll_y=0\n") + mode,
                     "use_video_info_header2=1\n");
      const std::string what =
          std::string(format.fcc) + (format.top_down ? " top-down " : " ") + mode;
      EXPECT_EQ(rig.pin->origin_y(), 10);
      int32_t top_x = 6;
      int32_t bottom_x = 6;
      if (rig.interlace_flags & AMINTERLACE_IsInterlaced) {
        const bool top_first = rig.interlace_flags & AMINTERLACE_Field1First;
        top_x = top_first ? 12 : 14;
        bottom_x = top_first ? 14 : 12;
      }
      FakeSample sample(96 * format.bytes_per_pixel * 60, &rig.env);
      for (int n = 0; n < 3; ++n) ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
      EXPECT_EQ(rig.Fill(sample, top_x, bottom_x, 10, 10).Compare(sample.Bytes()), 0) << what;
    }
  }
}

// The rate printed in the status line over a few seconds of a known frame time: 0.00 until
// the pacing clock reaches one second, then the stream's own rate in every later frame. The
// fake clock makes every frame leave within microseconds of its due time.
TEST(StatusLineRate, ShowsTheFrameRateAfterTheFirstSecond) {
  struct Case {
    const char* frame_time;
    double fps;  // as printed with two decimals
  };
  for (const Case& c : {Case{"333667", 29.97}, Case{"400000", 25.0}}) {
    PictureRig rig(Format{"RG32", 96, 4}, std::string("frame_time=") + c.frame_time + "\n");
    FakeSample sample(96 * 4 * 60, &rig.env);
    int zero_frames = 0;
    double ms = 0.0;
    for (int32_t n = 0; n < 110; ++n) {
      sample.Fill(kUntouched);
      ASSERT_EQ(rig.pin->FillSample(&sample), S_OK);
      ms = sample.stamped_at_ms - rig.origin_ms;
      const double fps = ms < 1000.0 ? 0.0 : c.fps;
      zero_frames += fps == 0.0;
      ASSERT_EQ(rig.Expected(sample, n, 0, 0, 10, 10, fps).Compare(sample.Bytes()), 0)
          << c.frame_time << " frame " << n << " at " << ms << " ms";
    }
    EXPECT_GT(zero_frames, 20) << c.frame_time;
    EXPECT_GT(ms, 3000.0) << "a few seconds of frames";
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
  StreamRig no_font("w=96\nh=60\nfcc=RG32\n");
  std::filesystem::remove(no_font.env.Directory().Path() / "font.bmp");
  EXPECT_EQ(no_font.pin->OnThreadStart(), E_OUTOFMEMORY);
  EXPECT_EQ(no_font.pin->OnThreadStop(), S_OK);
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
