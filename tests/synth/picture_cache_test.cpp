// The picture cache: a repeated request shares the converted pixels, anything that makes the
// conversion differ (file contents, size, last-write time, request, format) reads the file
// again, files that cannot be examined or read are never kept nor served, and the cache stays
// within its bounds. Also the file stamps it relies on.
#include "synth/picture_cache.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/file_stamp.h"
#include "synth/bmp_test_picture.h"
#include "support/temp_dir.h"
#include "synth/pixel_format.h"

namespace qp::synth {
namespace {

using testing::BmpLayout;
using testing::MakeBmp;
using Outcome = PictureCache::Outcome;

// A 24-bit picture of one colour.
std::vector<uint8_t> Plain(int32_t width, int32_t height, uint8_t value) {
  return MakeBmp(BmpLayout{width, height},
                 [value](int32_t, int32_t, uint8_t* p) { p[0] = p[1] = p[2] = value; });
}

TEST(FileStamp, SizeTimesAndIdentityOfFilesOnly) {
  qp::test::TempDir folder;
  const std::string path = folder.Write("a.bmp", Plain(4, 2, 1));
  platform::FileStamp stamp, again, other;
  ASSERT_TRUE(platform::ReadFileStamp(path.c_str(), stamp));
  EXPECT_EQ(stamp.size, std::filesystem::file_size(path));
  ASSERT_TRUE(platform::ReadFileStamp(path.c_str(), again));
  EXPECT_EQ(stamp, again);
  EXPECT_LE(stamp.changed, platform::FileTimeNow());
  // Another file of the same size and times is still another file.
  ASSERT_TRUE(platform::ReadFileStamp(folder.Write("b.bmp", Plain(4, 2, 1)).c_str(), other));
  other.modified = stamp.modified;
  other.changed = stamp.changed;
  EXPECT_FALSE(stamp == other);

  platform::FileStamp untouched{7, 7};
  EXPECT_FALSE(platform::ReadFileStamp((path + ".missing").c_str(), untouched));
  EXPECT_FALSE(platform::ReadFileStamp(std::filesystem::path(path).parent_path().string().c_str(),
                                       untouched));
  EXPECT_FALSE(platform::ReadFileStamp(nullptr, untouched));
  EXPECT_EQ(untouched, (platform::FileStamp{7, 7}));
}

TEST(PictureCache, TheSameRequestSharesThePixelsOthersConvertAgain) {
  qp::test::TempDir folder;
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
  qp::test::TempDir folder;
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

// Rewrites the file in place and sets its last-write time back, as a copy of a picture of the
// same size does: only the bytes differ.
void RewriteKeepingStamp(const std::string& path, const std::vector<uint8_t>& bytes) {
  platform::FileStamp before, after;
  ASSERT_TRUE(platform::ReadFileStamp(path.c_str(), before));
#ifdef _WIN32
  FILETIME written;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(GetFileTime(file, nullptr, nullptr, &written));
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(file, bytes.data(), DWORD(bytes.size()), &done, nullptr));
  ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &written));
  CloseHandle(file);
#else
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  const struct timespec times[2] = {info.st_atim, info.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
#endif
  ASSERT_TRUE(platform::ReadFileStamp(path.c_str(), after));
  ASSERT_EQ(before.size, after.size);
  ASSERT_EQ(before.modified, after.modified) << "the test needs the same last-write time";
}

// Waits until the file's last change lies more than the cache's margin (2 s) in the past.
void AgeFile(const std::string& path) {
  platform::FileStamp stamp;
  ASSERT_TRUE(platform::ReadFileStamp(path.c_str(), stamp));
  const int64_t due = stamp.changed + 2 * platform::kFileTimeUnitsPerSecond;
  while (platform::FileTimeNow() <= due) std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

// Every 1080p 24-bit picture has the same file size, and a copy keeps its source's time: a
// changed byte anywhere (the first pixel, the middle of a later read, the last few bytes)
// must be seen.
TEST(PictureCache, AReplacedFileOfTheSameSizeAndTimeIsReadAgain) {
  qp::test::TempDir folder;
  // 360054 bytes: more than one 256 KiB read, and not a whole number of 32-byte blocks.
  const BmpLayout layout{400, 300};
  const std::vector<uint8_t> original = MakeBmp(layout, testing::PatternColour);
  const std::string path = folder.Write("bg.bmp", original);
  // Fresh, the file's change time may be shared by the next change and its bytes are hashed;
  // aged past the cache's margin, its change time alone tells.
  struct Case {
    std::size_t at;
    bool aged;
  };
  for (const Case c : {Case{54, false}, Case{original.size() - 100, false},
                       Case{original.size() - 1, false}, Case{original.size() - 100, true}}) {
    SCOPED_TRACE(::testing::Message() << "byte " << c.at << " of " << original.size()
                                      << (c.aged ? ", aged" : ", fresh"));
    PictureCache cache;
    FrameImage image, expected;
    RewriteKeepingStamp(path, original);
    if (c.aged) AgeFile(path);
    ASSERT_EQ(cache.Load(path.c_str(), 0, 0, kFormatRgb, 24, image), Outcome::kLoaded);
    ASSERT_EQ(cache.Load(path.c_str(), 0, 0, kFormatRgb, 24, image), Outcome::kFromCache);

    std::vector<uint8_t> replaced = original;
    replaced[c.at] ^= 0x5A;
    RewriteKeepingStamp(path, replaced);
    EXPECT_EQ(cache.Load(path.c_str(), 0, 0, kFormatRgb, 24, image), Outcome::kLoaded);
    ASSERT_TRUE(expected.LoadPicture(path.c_str(), 0, 0, kFormatRgb, 24));
    ASSERT_EQ(image.PixelBytes(), expected.PixelBytes());
    EXPECT_EQ(std::memcmp(image.Pixels(), expected.Pixels(), image.PixelBytes()), 0);
    EXPECT_EQ(cache.Load(path.c_str(), 0, 0, kFormatRgb, 24, image), Outcome::kFromCache);
    EXPECT_EQ(cache.Entries(), 1u);
  }
}

// Keeps the file from being opened for reading while it lives, though it stays in place: on
// Windows another handle that shares nothing, on POSIX no read permission (for root, whose
// reads ignore permissions, on this thread with an unprivileged file user).
class ReadLock {
 public:
  explicit ReadLock(const std::string& path) : path_(path) {
#ifdef _WIN32
    handle_ = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
#else
    ::chmod(path.c_str(), 0);
#ifdef __linux__
    if (::geteuid() == 0) ::setfsuid(65534);
#endif
#endif
  }
  ~ReadLock() {
#ifdef _WIN32
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
#else
#ifdef __linux__
    if (::geteuid() == 0) ::setfsuid(0);
#endif
    ::chmod(path_.c_str(), 0644);
#endif
  }
  ReadLock(const ReadLock&) = delete;
  ReadLock& operator=(const ReadLock&) = delete;
  // Whether the lock holds; false on a system where nothing here keeps the reads out.
  bool Holds() const {
    std::FILE* file = std::fopen(path_.c_str(), "rb");
    if (file != nullptr) std::fclose(file);
    return file == nullptr;
  }

 private:
  std::string path_;
#ifdef _WIN32
  HANDLE handle_;
#endif
};

// A picture that can no longer be read fails the start as a missing one does; the pixels
// converted earlier are not shown instead.
TEST(PictureCache, AFileThatCannotBeReadIsNotServed) {
  qp::test::TempDir folder;
  const std::vector<uint8_t> bytes = Plain(8, 4, 0x10);
  const std::string path = folder.Write("bg.bmp", bytes);
  PictureCache cache;
  FrameImage image;
  ASSERT_EQ(cache.Load(path.c_str(), 0, 0, kFormatRgb, 24, image), Outcome::kLoaded);
  {
    ReadLock lock(path);
    ASSERT_TRUE(lock.Holds()) << "nothing keeps this process from reading the file";
    platform::FileStamp stamp;
    EXPECT_FALSE(platform::ReadFileStamp(path.c_str(), stamp));
    EXPECT_EQ(cache.Load(path.c_str(), 0, 0, kFormatRgb, 24, image), Outcome::kFailed);
    EXPECT_EQ(cache.Entries(), 0u);
  }
  ASSERT_EQ(cache.Load(path.c_str(), 0, 0, kFormatRgb, 24, image), Outcome::kLoaded);

  std::filesystem::remove(path);
  EXPECT_EQ(cache.Load(path.c_str(), 0, 0, kFormatRgb, 24, image), Outcome::kFailed);
  folder.Write("bg.bmp", bytes);
  ASSERT_EQ(cache.Load(path.c_str(), 0, 0, kFormatRgb, 24, image), Outcome::kLoaded);
  std::filesystem::remove(path);
  std::filesystem::create_directory(path);
  EXPECT_EQ(cache.Load(path.c_str(), 0, 0, kFormatRgb, 24, image), Outcome::kFailed);
  EXPECT_EQ(cache.Entries(), 0u);
}

TEST(PictureCache, FailuresAndUnstampedFilesAreNotKept) {
  qp::test::TempDir folder;
  PictureCache cache;
  FrameImage image;
  const std::string missing = folder.Write("x.bmp", std::string_view()) + ".gone";
  EXPECT_EQ(cache.Load(missing.c_str(), 0, 0, kFormatRgb, 24, image), Outcome::kFailed);
  const std::string broken = folder.Write("broken.bmp", std::vector<uint8_t>{'B', 'M', 0, 0});
  EXPECT_EQ(cache.Load(broken.c_str(), 0, 0, kFormatRgb, 24, image), Outcome::kFailed);
  EXPECT_EQ(cache.Load(nullptr, 0, 0, kFormatRgb, 24, image), Outcome::kFailed);
  const std::string good = folder.Write("good.bmp", Plain(2, 2, 5));
  EXPECT_EQ(cache.Load(good.c_str(), 0, 0, 0x12345678, 24, image), Outcome::kFailed);
  EXPECT_EQ(cache.Entries(), 0u);
}

TEST(PictureCache, KeepsAtMostItsEntriesDroppingTheLeastRecentlyUsed) {
  qp::test::TempDir folder;
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
