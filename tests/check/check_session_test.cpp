// A whole check over frames drawn the way the stream draws them, from the shipped INI and
// pictures: the preset found by size and header, losses and repeats found, the background
// matched, and the choices made when the header cannot be read or the size fits no preset.
#include "check/check_session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/stream_configuration.h"
#include "support/expected_frame.h"
#include "support/temp_dir.h"

namespace qp::check {
namespace {

const std::string kAssets = QP_ASSETS_DIR;

config::StreamConfiguration ShippedConfiguration() {
  config::StreamConfiguration c;
  EXPECT_TRUE(c.LoadConfigurationFrom((kAssets + "/QuorPlemo.ini").c_str()));
  return c;
}

// Progressive frames of one preset: the scrolled test card, the header at the bottom left,
// the status line at the top right.
class DrawnSource {
 public:
  explicit DrawnSource(const config::Preset& p) : frame_(p, kAssets) { EXPECT_TRUE(frame_.ok()); }

  // `shown` is the number in the status line; another than n makes a stale line.
  FrameView Draw(int32_t n, int32_t drops, int32_t clock_ms, bool header = true,
                 int32_t shown = -1) {
    frame_.DrawBackground(n);
    if (header) frame_.DrawHeader();
    frame_.DrawStatus(shown >= 0 ? shown : n, drops, clock_ms, 30.0);
    return frame_.View();
  }

 private:
  test::ExpectedFrame frame_;
};

SessionSettings Shipped() {
  SessionSettings s;
  s.install_dir = kAssets;
  return s;
}

// Frame n is due at 1000 + n·ft ms and filled 1 ms after.
int32_t ClockOf(const config::Preset& p, int32_t n) {
  return 1001 + static_cast<int32_t>(n * p.frame_time / 10000);
}

TEST(CheckSession, FindsThePresetByHeaderAndTheLossesAndRepeats) {
  const config::StreamConfiguration shipped = ShippedConfiguration();
  // The fourth of five 640x480 presets: UYVY, 60 fps, scrolling.
  const config::Preset& p = shipped.presets[3];
  ASSERT_EQ(p.w, 640);
  DrawnSource source(p);
  CheckSession session;
  std::string error;
  ASSERT_TRUE(session.Open(Shipped(), error)) << error;
  std::vector<int32_t> order;
  for (int32_t n = 0; n < 30; ++n)
    if (n != 10 && n != 11) order.push_back(n);
  const int32_t again = order[19];
  order.insert(order.begin() + 20, again);
  for (std::size_t i = 0; i < order.size(); ++i)
    ASSERT_TRUE(session.AddFrame(source.Draw(order[i], 0, ClockOf(p, order[i])),
                                 static_cast<double>(i) * 1000.0 / 60.0 + 0.25 * (i % 3), error))
        << error;
  // Frame 30's picture under frame 31's status line, as a decoder's stale copy shows it; the
  // scrolled background gives it away.
  ASSERT_TRUE(session.AddFrame(source.Draw(30, 0, ClockOf(p, 31), true, 31), kUnknown, error));
  ASSERT_TRUE(session.AddFrame(source.Draw(31, 0, ClockOf(p, 31)), kUnknown, error));
  // Frame 32 under frame 28's line fits none of the windows near 28 and stands out from the
  // frames before it.
  ASSERT_TRUE(session.AddFrame(source.Draw(32, 0, ClockOf(p, 28), true, 28), kUnknown, error));
  ASSERT_TRUE(session.AddFrame(source.Draw(33, 0, ClockOf(p, 33)), kUnknown, error));
  const RecordingAnalysis a = session.Finish();
  EXPECT_TRUE(a.results[order.size()].rejected);
  EXPECT_EQ(a.results[order.size()].placed, 30);
  EXPECT_TRUE(a.results[order.size() + 2].rejected);
  EXPECT_EQ(a.results[order.size() + 2].placed, 32);
  EXPECT_EQ(session.choice().index, 3);
  EXPECT_TRUE(session.choice().header_confirmed);
  EXPECT_EQ(session.choice().clock_name, "CPU Clock");
  EXPECT_FALSE(session.choice().scaled);
  EXPECT_EQ(a.read, static_cast<int64_t>(order.size()) + 2);
  EXPECT_EQ(a.missing, 2);
  ASSERT_EQ(a.losses.size(), 1u);
  EXPECT_EQ(a.losses[0].first, 10);
  EXPECT_EQ(a.repeats, 1);
  EXPECT_NEAR(a.frame_time_ms, 1000.0 / 60.0, 1e-3);
  // The background was drawn for each frame's number: only a wrong window would score low.
  EXPECT_GT(a.psnr.min, 40.0);
  EXPECT_GT(session.colour().frames, 0);
  EXPECT_TRUE(session.colour().matches) << ColourHandlingName(session.colour().likely);
}

// 1920x1080 drawn, recorded at 1280x720: the 1280x720 presets have the recording's size but
// not its header.
TEST(CheckSession, TakesTheScaledPresetWhoseHeaderReads) {
  const config::StreamConfiguration shipped = ShippedConfiguration();
  const config::Preset& p = shipped.presets[11];  // 1920x1080 RG24
  ASSERT_EQ(p.w, 1920);
  DrawnSource source(p);
  CheckSession session;
  std::string error;
  ASSERT_TRUE(session.Open(Shipped(), error)) << error;
  std::vector<uint8_t> scaled(1280 * 720 * 3);
  for (int32_t n = 0; n < 3; ++n) {
    const FrameView big = source.Draw(n, 0, ClockOf(p, n));
    // 3 × 3 source pixels to 2 × 2: each output pixel averages the ones it covers.
    for (int32_t y = 0; y < 720; ++y)
      for (int32_t x = 0; x < 1280; ++x)
        for (int32_t c = 0; c < 3; ++c) {
          const int32_t sx = x * 3 / 2, sy = y * 3 / 2;
          const int sum = big.Sample(c, sx, sy) + big.Sample(c, sx + 1, sy) +
                          big.Sample(c, sx, sy + 1) + big.Sample(c, sx + 1, sy + 1);
          scaled[(static_cast<std::size_t>(y) * 1280 + x) * 3 + c] = static_cast<uint8_t>(sum / 4);
        }
    ASSERT_TRUE(session.AddFrame(ViewOfRgb24(scaled.data(), 1280 * 3, 1280, 720), kUnknown, error))
        << error;
  }
  const RecordingAnalysis a = session.Finish();
  EXPECT_EQ(session.choice().index, 11);
  EXPECT_TRUE(session.choice().scaled);
  EXPECT_EQ(a.read, 3);
  EXPECT_EQ(a.last_frame, 2);
}

// No header drawn: among the presets of the size, the background tells the RGB ones from the
// 4:2:2 ones, the declared rate the two RGB ones apart; a preset named outright is taken.
TEST(CheckSession, WithoutAHeaderTakesThePresetBySizeBackgroundAndRate) {
  const config::StreamConfiguration shipped = ShippedConfiguration();
  const config::Preset& p = shipped.presets[1];  // 640x480 RG24 25 fps; 2 is RG32 29.97 fps
  DrawnSource source(p);
  for (const auto& [rate, named, expected] :
       {std::tuple{0.0, -1, 1}, std::tuple{29.97, -1, 2}, std::tuple{0.0, 0, 0}}) {
    SessionSettings settings = Shipped();
    settings.nominal_fps = rate;
    settings.preset = named;
    settings.header_frames = 4;
    CheckSession session;
    std::string error;
    ASSERT_TRUE(session.Open(settings, error)) << error;
    for (int32_t n = 0; n < 6; ++n)
      ASSERT_TRUE(session.AddFrame(source.Draw(n, 0, ClockOf(p, n), false), kUnknown, error));
    const RecordingAnalysis a = session.Finish();
    EXPECT_EQ(session.choice().index, expected) << rate << " " << named;
    EXPECT_FALSE(session.choice().header_confirmed);
    EXPECT_EQ(a.read, 6);
    if (named < 0) {
      EXPECT_FALSE(session.warnings().empty());
    }
  }
}

TEST(CheckSession, RefusesWhatItCannotCheck) {
  std::string error;
  CheckSession none;
  EXPECT_FALSE(none.Open(SessionSettings{}, error));
  EXPECT_FALSE(error.empty());

  test::TempDir dir;
  SessionSettings missing;
  missing.install_dir = dir.Path().string();
  EXPECT_FALSE(CheckSession().Open(missing, error));
  EXPECT_NE(error.find("QuorPlemo.ini"), std::string::npos) << error;

  SessionSettings beyond = Shipped();
  beyond.preset = 16;  // the shipped INI enables 0 to 15
  EXPECT_FALSE(CheckSession().Open(beyond, error));

  // An INI whose glyph sheet is missing, in a folder without pictures.
  SessionSettings bare;
  bare.ini_path = dir.Write(
      "my.ini", "[MAIN]\npreset_num=1\n[PRESET_01]\nenable=1\nw=320\nh=240\nfont=glyphs.bmp\n");
  CheckSession session;
  ASSERT_TRUE(session.Open(bare, error)) << error;
  std::vector<uint8_t> grey(320 * 240 * 3, 128);
  EXPECT_FALSE(session.AddFrame(ViewOfRgb24(grey.data(), 320 * 3, 320, 240), kUnknown, error));
  EXPECT_NE(error.find("glyphs.bmp"), std::string::npos) << error;

  // A size no preset has, nor its aspect.
  CheckSession shipped;
  ASSERT_TRUE(shipped.Open(Shipped(), error));
  std::vector<uint8_t> square(200 * 200 * 3, 128);
  EXPECT_FALSE(shipped.AddFrame(ViewOfRgb24(square.data(), 200 * 3, 200, 200), kUnknown, error));
  EXPECT_NE(error.find("200x200"), std::string::npos) << error;
  EXPECT_FALSE(shipped.AddFrame(FrameView{}, kUnknown, error));
}

}  // namespace
}  // namespace qp::check
