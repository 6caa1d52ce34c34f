// Frames are composed by the frame code the stream draws with, so these tests fail when the
// reader and the source drift apart.
#include "check/status_line_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "config/preset.h"
#include "frame/status_text.h"
#include "support/expected_frame.h"
#include "synth/frame_image.h"
#include "synth/pixel_format_code.h"

namespace qp::check {
namespace {

const std::string kAssets = QP_ASSETS_DIR;

struct Status {
  int32_t frame, drops, clock_ms;
  double fps;
};

config::Preset CardPreset(int32_t w, int32_t h, uint32_t format, int32_t bits) {
  config::Preset preset{};
  preset.w = w, preset.h = h, preset.compression = format, preset.bit_count = bits;
  std::snprintf(preset.bmp, sizeof preset.bmp, "test_card.bmp");
  std::snprintf(preset.font, sizeof preset.font, "glyphs.bmp");
  return preset;
}

// A frame as the stream draws it: test card, header at the bottom left, status at the top right.
class ComposedFrame {
 public:
  ComposedFrame(int32_t w, int32_t h, uint32_t format, int32_t bits)
      : w_(w), h_(h), frame_(CardPreset(w, h, format, bits), kAssets) {
    EXPECT_TRUE(frame_.ok());
  }

  // False when the status line is wider than the frame, so its left end is not drawn.
  bool Draw(const Status& s, const char* header = "") {
    frame_.DrawBackground(0);
    frame_.DrawHeaderText(header);
    return frame_.DrawStatus(s.frame, s.drops, s.clock_ms, s.fps);
  }

  void DrawAt(int32_t x, int32_t y, const char* text) { frame_.DrawText(x, y, text); }

  FrameView View() const { return frame_.View(); }

  // Top-down RGB scaled to nw × nh by averaging each output pixel's footprint.
  std::vector<uint8_t> Scaled(int32_t nw, int32_t nh) const {
    const FrameView v = View();
    std::vector<uint8_t> out(static_cast<std::size_t>(nw) * nh * 3);
    for (int32_t y = 0; y < nh; ++y)
      for (int32_t x = 0; x < nw; ++x)
        for (int c = 0; c < 3; ++c) {
          const int32_t x0 = x * w_ / nw, x1 = (x + 1) * w_ / nw;
          const int32_t y0 = y * h_ / nh, y1 = (y + 1) * h_ / nh;
          int sum = 0;
          for (int32_t sy = y0; sy < y1; ++sy)
            for (int32_t sx = x0; sx < x1; ++sx) sum += v.Sample(c, sx, sy);
          out[(static_cast<std::size_t>(y) * nw + x) * 3 + c] =
              static_cast<uint8_t>(sum / ((x1 - x0) * (y1 - y0)));
        }
    return out;
  }

  std::vector<uint8_t>& bytes() { return frame_.bytes(); }
  const synth::FrameImage& sheet_in_rgb() {
    if (rgb_sheet_.Pixels() == nullptr) {
      EXPECT_TRUE(
          rgb_sheet_.LoadPicture((kAssets + "/glyphs.bmp").c_str(), 0, 0, synth::kFormatRgb, 24));
    }
    return rgb_sheet_;
  }

 private:
  int32_t w_, h_;
  test::ExpectedFrame frame_;
  synth::FrameImage rgb_sheet_;
};

void ExpectReads(const StatusReading& r, const Status& s) {
  ASSERT_TRUE(r.readable) << r.cells << " confidence " << r.confidence << " fit " << r.fit;
  EXPECT_EQ(r.frame, s.frame) << r.cells;
  EXPECT_EQ(r.drops, s.drops) << r.cells;
  EXPECT_TRUE(r.clock_readable);
  EXPECT_EQ(r.clock_ms, static_cast<uint32_t>(s.clock_ms)) << r.cells;
  EXPECT_NEAR(r.fps, s.fps, 0.006) << r.cells;
}

const Status kStatuses[] = {
    {0, 0, 0, 0.0},
    {5, 0, 1234, 0.0},
    {123, 4, 3723456, 29.97},
    {99999, 123, 45296789, 120.5},
    {1234567, 7, 86399999, 59.94},
};

TEST(StatusLineReader, ReadsBothFormsInPackedAndRgbFrames) {
  // 480 wide draws the short form, 482 the long one.
  for (const auto& [w, h, format, bits] :
       {std::tuple{480, 360, synth::kFormatYUY2, 16}, std::tuple{482, 360, synth::kFormatYUY2, 16},
        std::tuple{640, 480, synth::kFormatRgb, 24},
        std::tuple{1280, 720, synth::kFormatRgb, 32}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    ComposedFrame frame(w, h, format, bits);
    StatusLineReader reader(frame.sheet_in_rgb(), w, h);
    for (const Status& s : kStatuses) {
      const bool whole = frame.Draw(s);
      const StatusReading r = reader.ReadStatus(frame.View());
      EXPECT_EQ(r.short_form, w <= 480);
      if (whole) {
        ExpectReads(r, s);
      } else {
        // A line cut at the left edge has lost digits: no reading, never a shorter number.
        EXPECT_FALSE(r.readable && r.frame != s.frame) << r.cells;
      }
    }
  }
}

TEST(StatusLineReader, ReadsFramesScaledDown) {
  ComposedFrame frame(1920, 1080, synth::kFormatRgb, 24);
  StatusLineReader reader(frame.sheet_in_rgb(), 1920, 1080);
  const char header[] = "1920x1080p YUY2 #rCPU Clock #g25 fps";
  for (const auto& [nw, nh] : {std::pair{1280, 720}, std::pair{640, 360}}) {
    SCOPED_TRACE(std::to_string(nw));
    for (const Status& s : kStatuses) {
      frame.Draw(s, header);
      const std::vector<uint8_t> scaled = frame.Scaled(nw, nh);
      const FrameView view = ViewOfRgb24(scaled.data(), nw * 3, nw, nh);
      ExpectReads(reader.ReadStatus(view), s);
      // The header still tells this preset from one of the same aspect.
      const HeaderReading read = reader.ReadHeader(view);
      EXPECT_TRUE(HeaderMatches(read, qp::frame::PlainText(header))) << read.text;
      EXPECT_FALSE(HeaderMatches(read, "1280x720p YUY2 CPU Clock 25 fps")) << read.text;
    }
  }
}

TEST(StatusLineReader, AFadedLastDigitIsNotTakenForABlank) {
  // Compression softens thin strokes; a faded second 3 of "Frame33" must not shorten the
  // number to 3, which would fit the blank-padded field just as well.
  ComposedFrame frame(1280, 720, synth::kFormatRgb, 24);
  StatusLineReader reader(frame.sheet_in_rgb(), 1280, 720);
  const Status s{33, 0, 1000, 0.0};
  frame.Draw(s);
  char status[qp::frame::kTextSize];
  qp::frame::FormatStatusLine(status, 1280, s.frame, s.drops, s.clock_ms, s.fps);
  const int32_t cells = static_cast<int32_t>(qp::frame::PlainText(status).size());
  const int32_t cell = 12, x0 = 1280 - (cells - 6) * cell;
  for (int32_t y = 0; y < 24; ++y)
    for (int32_t x = x0; x < x0 + cell; ++x)
      for (int c = 0; c < 3; ++c) {
        uint8_t& v = frame.bytes()[(static_cast<std::size_t>(719 - y) * 1280 + x) * 3 + c];
        v = static_cast<uint8_t>(16 + (v - 16) * 35 / 100);
      }
  const StatusReading r = reader.ReadStatus(frame.View());
  EXPECT_TRUE(r.readable) << r.cells;
  EXPECT_FALSE(r.readable && r.frame != 33) << r.cells;
}

TEST(StatusLineReader, GivesNoReadingWithoutAClearStatusLine) {
  ComposedFrame frame(1280, 720, synth::kFormatRgb, 24);
  StatusLineReader reader(frame.sheet_in_rgb(), 1280, 720);

  // Noise, flat grey and the bare picture.
  std::mt19937 random(7);
  std::vector<uint8_t> noise(1280 * 720 * 3);
  for (int round = 0; round < 10; ++round) {
    for (uint8_t& b : noise) b = static_cast<uint8_t>(random());
    EXPECT_FALSE(reader.ReadStatus(ViewOfRgb24(noise.data(), 1280 * 3, 1280, 720)).readable);
  }
  std::fill(noise.begin(), noise.end(), 128);
  EXPECT_FALSE(reader.ReadStatus(ViewOfRgb24(noise.data(), 1280 * 3, 1280, 720)).readable);

  // A frame-number digit halfway between a 3 and an 8 is no reading rather than a guess.
  frame.Draw({3, 0, 1000, 0.0});
  const std::vector<uint8_t> three = frame.bytes();
  frame.Draw({8, 0, 1000, 0.0});
  ASSERT_TRUE(reader.ReadStatus(frame.View()).readable);
  for (std::size_t i = 0; i < three.size(); ++i)
    frame.bytes()[i] = static_cast<uint8_t>((frame.bytes()[i] + three[i] + 1) / 2);
  EXPECT_FALSE(reader.ReadStatus(frame.View()).readable);

  // A row of one repeated digit (the fuzzer's find: a pattern of vertical strokes that every
  // cell shares) fits the numbers well, but not the labels between them.
  for (const int32_t w : {480, 1280}) {
    ComposedFrame repeated(w, 720 * w / 1280, synth::kFormatRgb, 24);
    StatusLineReader wide(repeated.sheet_in_rgb(), w, 720 * w / 1280);
    repeated.Draw({0, 0, 0, 0.0}, "");
    std::string fours(static_cast<std::size_t>(w / 12), '4');
    // Drawn over the status line, across the whole top row.
    repeated.DrawAt(0, 0, fours.c_str());
    const StatusReading r = wide.ReadStatus(repeated.View());
    EXPECT_FALSE(r.readable) << w << ": " << r.cells << " frame " << r.frame;
  }

  // A frame too small to hold a cell, and an empty view.
  EXPECT_FALSE(reader.ReadStatus(ViewOfRgb24(noise.data(), 3, 1, 1)).readable);
  EXPECT_FALSE(reader.ReadStatus(FrameView{}).readable);
}

TEST(StatusLineReader, ReadsTheHeaderToTellPresetsApart) {
  ComposedFrame frame(640, 480, synth::kFormatYUY2, 16);
  StatusLineReader reader(frame.sheet_in_rgb(), 640, 480);
  config::Preset preset{};
  preset.w = 640, preset.h = 480, preset.compression = config::kFormatYUY2, preset.bit_count = 16;
  std::snprintf(preset.comment, sizeof preset.comment, "30 fps");
  char header[qp::frame::kTextSize];
  qp::frame::FormatHeaderLine(header, preset, true);
  frame.Draw({1, 0, 33, 0.0}, header);

  const HeaderReading read = reader.ReadHeader(frame.View());
  EXPECT_EQ(qp::frame::PlainText("#yA##B#xC#"), "A#BC");
  EXPECT_EQ(qp::frame::PlainText(header), "640x480p YUY2 CPU Clock 30 fps");
  EXPECT_TRUE(HeaderMatches(read, qp::frame::PlainText(header)));
  EXPECT_FALSE(HeaderMatches(read, "640x480p UYVY Stream Time 30 fps"));
  EXPECT_FALSE(HeaderMatches(read, "648x480p YUY2 CPU Clock 30 fps"));
}

}  // namespace
}  // namespace qp::check
