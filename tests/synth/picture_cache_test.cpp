// The picture cache: a repeated request shares the converted pixels, anything that makes the
// conversion differ (file contents, size, last-write time, request, format) reads the file
// again, files that cannot be examined are never kept, and the cache stays within its bounds.
// Also the file stamps it relies on.
#include "synth/picture_cache.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/file_stamp.h"
#include "synth/bmp_test_picture.h"
#include "synth/pixel_format.h"

namespace qp::synth {
namespace {

using testing::BmpLayout;
using testing::MakeBmp;
using Outcome = PictureCache::Outcome;

// A 24-bit picture of one colour.
std::vector<uint8_t> Plain(int32_t width, int32_t height, uint8_t value) {
  return MakeBmp(BmpLayout{width, height}, [value](int32_t, int32_t, uint8_t* p) {
    p[0] = p[1] = p[2] = value;
  });
}

TEST(FileStamp, SizeAndTimeOfFilesOnly) {
  testing::PictureFolder folder;
  const std::string path = folder.Write("a.bmp", Plain(4, 2, 1));
  platform::FileStamp stamp;
  ASSERT_TRUE(platform::ReadFileStamp(path.c_str(), stamp));
  EXPECT_EQ(stamp.size, std::filesystem::file_size(path));

  platform::FileStamp untouched{7, 7};
  EXPECT_FALSE(platform::ReadFileStamp((path + ".missing").c_str(), untouched));
  EXPECT_FALSE(platform::ReadFileStamp(std::filesystem::path(path).parent_path().string().c_str(),
                                       untouched));
  EXPECT_FALSE(platform::ReadFileStamp(nullptr, untouched));
  EXPECT_EQ(untouched, (platform::FileStamp{7, 7}));
}

TEST(PictureCache, TheSameRequestSharesThePixelsOthersConvertAgain) {
  testing::PictureFolder folder;
  const std::string path = folder.Write("bg.bmp", Plain(8, 4, 0x40));
  PictureCache cache;
  FrameImage first, second, other;
  ASSERT_EQ(cache.Load(path.c_str(), 16, 8, kFormatYUY2, 16, first), Outcome::kLoaded);
  ASSERT_EQ(cache.Load(path.c_str(), 16, 8, kFormatYUY2, 16, second), Outcome::kFromCache);
  EXPECT_EQ(first.Pixels(), second.Pixels());
  EXPECT_EQ(second.width(), 16);
  EXPECT_EQ(second.format(), kFormatYUY2);

  EXPECT_EQ(cache.Load(path.c_str(), 16, 8, kFormatUYVY, 16, other), Outcome::kLoaded);
  EXPECT_EQ(cache.Load(path.c_str(), 32, 8, kFormatYUY2, 16, other), Outcome::kLoaded);
  EXPECT_EQ(cache.Load(path.c_str(), 16, 8, kFormatRgb, 32, other), Outcome::kLoaded);
  EXPECT_EQ(cache.Entries(), 4u);
  // A copy outlives the cache's own.
  cache.Clear();
  EXPECT_EQ(cache.Entries(), 0u);
  EXPECT_NE(first.Pixels(), nullptr);
  EXPECT_EQ(first.Pixels()[0], second.Pixels()[0]);
}

// A picture edited between two stream starts is the one the next start shows: a new size, or
// the same size with a new last-write time.
TEST(PictureCache, AChangedFileIsReadAgain) {
  testing::PictureFolder folder;
  const std::string path = folder.Write("bg.bmp", Plain(8, 4, 0x10));
  PictureCache cache;
  FrameImage image;
  ASSERT_EQ(cache.Load(path.c_str(), 0, 0, kFormatRgb, 24, image), Outcome::kLoaded);
  ASSERT_EQ(image.Pixels()[0], 0x10);

  folder.Write("bg.bmp", Plain(8, 8, 0x20));
  ASSERT_EQ(cache.Load(path.c_str(), 0, 0, kFormatRgb, 24, image), Outcome::kLoaded);
  EXPECT_EQ(image.height(), 8);
  EXPECT_EQ(image.Pixels()[0], 0x20);
  ASSERT_EQ(cache.Load(path.c_str(), 0, 0, kFormatRgb, 24, image), Outcome::kFromCache);

  const auto written = std::filesystem::last_write_time(path);
  folder.Write("bg.bmp", Plain(8, 8, 0x30));
  std::filesystem::last_write_time(path, written + std::chrono::seconds(2));
  ASSERT_EQ(cache.Load(path.c_str(), 0, 0, kFormatRgb, 24, image), Outcome::kLoaded);
  EXPECT_EQ(image.Pixels()[0], 0x30);
  EXPECT_EQ(cache.Entries(), 1u) << "the outdated entry is replaced";
}

TEST(PictureCache, FailuresAndUnstampedFilesAreNotKept) {
  testing::PictureFolder folder;
  PictureCache cache;
  FrameImage image;
  const std::string missing = folder.Write("x.bmp", {}) + ".gone";
  EXPECT_EQ(cache.Load(missing.c_str(), 0, 0, kFormatRgb, 24, image), Outcome::kFailed);
  const std::string broken = folder.Write("broken.bmp", {'B', 'M', 0, 0});
  EXPECT_EQ(cache.Load(broken.c_str(), 0, 0, kFormatRgb, 24, image), Outcome::kFailed);
  EXPECT_EQ(cache.Load(nullptr, 0, 0, kFormatRgb, 24, image), Outcome::kFailed);
  const std::string good = folder.Write("good.bmp", Plain(2, 2, 5));
  EXPECT_EQ(cache.Load(good.c_str(), 0, 0, 0x12345678, 24, image), Outcome::kFailed);
  EXPECT_EQ(cache.Entries(), 0u);
}

TEST(PictureCache, KeepsAtMostItsEntriesDroppingTheLeastRecentlyUsed) {
  testing::PictureFolder folder;
  const std::string path = folder.Write("bg.bmp", Plain(4, 4, 9));
  PictureCache cache;
  FrameImage image;
  ASSERT_EQ(cache.Load(path.c_str(), 4, 4, kFormatRgb, 24, image), Outcome::kLoaded);
  for (int32_t w = 8; w < 8 + 4 * int32_t(PictureCache::kMaxEntries); w += 4) {
    ASSERT_EQ(cache.Load(path.c_str(), 4, 4, kFormatRgb, 24, image), Outcome::kFromCache) << w;
    ASSERT_EQ(cache.Load(path.c_str(), w, 4, kFormatRgb, 24, image), Outcome::kLoaded) << w;
    EXPECT_LE(cache.Entries(), PictureCache::kMaxEntries);
  }
  EXPECT_EQ(cache.Load(path.c_str(), 4, 4, kFormatRgb, 24, image), Outcome::kFromCache)
      << "the entry in use stays";
  EXPECT_EQ(cache.Load(path.c_str(), 8, 4, kFormatRgb, 24, image), Outcome::kLoaded)
      << "the oldest unused one went";
}

}  // namespace
}  // namespace qp::synth
