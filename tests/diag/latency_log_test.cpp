// The buffered latency log: closed-state answers, when text reaches the file, lines that do
// not fit, appending to an existing file and refused arguments.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>

#include <cstdlib>
#endif

#include "diag/latency_log.h"

namespace qp::diag {
namespace {

namespace fs = std::filesystem;

class LatencyLogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::temp_directory_path() / (std::string("qp_log_") + info->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    path = (dir / "latency.log").string();
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
  // While the log is open only its size can be seen: the file is shared for writing only.
  std::uintmax_t Size() const { return fs::file_size(path); }
  std::string Contents() const {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  fs::path dir;
  std::string path;
};

// Closed state (no latency_log set): every call must be harmless and create nothing.
TEST(LatencyLogClosed, DropsLinesAndReportsIt) {
  LatencyLog log;
  EXPECT_FALSE(log.IsOpen());
  EXPECT_FALSE(log.Append("       1(  0)ms: Latancy=   0ms, TimeStamp=   0ms\r\n"));
  EXPECT_EQ(log.Pending(), 0);
  EXPECT_FALSE(log.Flush());
  EXPECT_TRUE(log.Close());
  EXPECT_TRUE(log.Close());
  EXPECT_FALSE(log.Append("x"));
}

// Text reaches the file only when the buffer fills and at Close: with capacity 64 and 30
// bytes pending, a 40-byte line first writes the 30, then waits alone.
TEST_F(LatencyLogFile, WritesOnlyWhenFullAndAtClose) {
  LatencyLog log;
  ASSERT_TRUE(log.Open(path.c_str(), 64));
  const std::string first(30, 'a');
  const std::string second(40, 'b');
  ASSERT_TRUE(log.Append(first.c_str()));
  EXPECT_EQ(Size(), 0u);
  ASSERT_TRUE(log.Append(second.c_str()));
  EXPECT_EQ(Size(), 30u);
  EXPECT_EQ(log.Pending(), 40);
  const std::string fill(24, 'c');  // exactly fills the buffer: no write yet
  ASSERT_TRUE(log.Append(fill.c_str()));
  EXPECT_EQ(Size(), 30u);
  EXPECT_TRUE(log.Close());
  EXPECT_EQ(Contents(), first + second + fill);
  EXPECT_FALSE(log.IsOpen());
  EXPECT_FALSE(log.Append("late"));
}

// A line longer than the whole buffer is never written, even into an empty buffer; the flush
// it provokes still writes what was pending.
TEST_F(LatencyLogFile, DropsLinesLongerThanTheBuffer) {
  LatencyLog log;
  ASSERT_TRUE(log.Open(path.c_str(), 16));
  EXPECT_FALSE(log.Append(std::string(17, 'x').c_str()));
  EXPECT_EQ(log.Pending(), 0);
  ASSERT_TRUE(log.Append("0123456789"));
  EXPECT_FALSE(log.Append(std::string(100, 'y').c_str()));
  EXPECT_EQ(Size(), 10u);
  EXPECT_EQ(log.Pending(), 0);
  EXPECT_TRUE(log.Append(std::string(16, 'z').c_str()));
  EXPECT_TRUE(log.Append(""));
  EXPECT_FALSE(log.Append(nullptr));
  log.Close();
  EXPECT_EQ(Contents(), "0123456789" + std::string(16, 'z'));
}

// Open keeps an existing file's contents and appends after them; reopening closes (and so
// flushes) the log first.
TEST_F(LatencyLogFile, AppendsToExistingFile) {
  {
    std::ofstream out(path, std::ios::binary);
    out << "earlier run\r\n";
  }
  LatencyLog log;
  ASSERT_TRUE(log.Open(path.c_str(), 256));
  ASSERT_TRUE(log.Append("line 1\r\n"));
  const std::string other = (dir / "other.log").string();
  ASSERT_TRUE(log.Open(other.c_str(), 256));
  EXPECT_EQ(Contents(), "earlier run\r\nline 1\r\n");
  EXPECT_STREQ(log.Path(), other.c_str());
  ASSERT_TRUE(log.Open(path.c_str(), 256));
  ASSERT_TRUE(log.Append("line 2\r\n"));
  EXPECT_TRUE(log.Flush());
  EXPECT_EQ(Size(), 29u);
  EXPECT_TRUE(log.Flush());  // nothing pending
  log.Close();
  EXPECT_EQ(Contents(), "earlier run\r\nline 1\r\nline 2\r\n");
}

// Wrong arguments: each is refused with the log closed and no file created.
TEST_F(LatencyLogFile, RefusesBadPathsAndCapacities) {
  LatencyLog log;
  EXPECT_FALSE(log.Open(nullptr, 64));
  EXPECT_FALSE(log.Open("", 64));
  EXPECT_FALSE(log.Open(path.c_str(), 0));
  EXPECT_FALSE(log.Open(path.c_str(), -1));
  EXPECT_FALSE(log.Open(path.c_str(), INT32_MIN));
  EXPECT_FALSE(log.Open(path.c_str(), LatencyLog::kMaxCapacity + 1));
  EXPECT_FALSE(log.Open(path.c_str(), INT32_MAX));
  const std::string too_long = (dir / std::string(260, 'n')).string();
  EXPECT_FALSE(log.Open(too_long.c_str(), 64));
  const std::string missing_dir = (dir / "missing" / "latency.log").string();
  EXPECT_FALSE(log.Open(missing_dir.c_str(), 64));
  EXPECT_FALSE(log.IsOpen());
  EXPECT_FALSE(log.Append("x"));
  EXPECT_FALSE(fs::exists(path));

  // A failed Open also closes the log it replaces, after flushing it.
  ASSERT_TRUE(log.Open(path.c_str(), 64));
  ASSERT_TRUE(log.Append("kept"));
  EXPECT_FALSE(log.Open(path.c_str(), 0));
  EXPECT_FALSE(log.IsOpen());
  EXPECT_EQ(Contents(), "kept");
}

#ifndef _WIN32
// The log in the temporary folder ($TMPDIR here, GetTempPath on Windows): one ordinary file
// there, appended to; links, hard links, folders, FIFOs and names that leave the folder are
// refused without a byte written through them.
class TempLatencyLog : public LatencyLogFile {
 protected:
  void SetUp() override {
    LatencyLogFile::SetUp();
    if (const char* old = std::getenv("TMPDIR")) old_tmpdir_ = old;
    fs::create_directories(dir / "temp");
    setenv("TMPDIR", (dir / "temp").c_str(), 1);
  }
  void TearDown() override {
    if (old_tmpdir_.empty())
      unsetenv("TMPDIR");
    else
      setenv("TMPDIR", old_tmpdir_.c_str(), 1);
    LatencyLogFile::TearDown();
  }
  std::string old_tmpdir_;
};

TEST_F(TempLatencyLog, AppendsToTheNamedFileInTheTemporaryFolder) {
  std::ofstream(dir / "temp" / "qp.log", std::ios::binary) << "earlier\n";
  LatencyLog log;
  ASSERT_EQ(log.OpenTemp("qp.log", 64), platform::TempLogOpen::kOpened);
  ASSERT_TRUE(log.Append("line\n"));
  log.Close();
  path = (dir / "temp" / "qp.log").string();
  EXPECT_EQ(Contents(), "earlier\nline\n");
}

TEST_F(TempLatencyLog, RefusesWhatWouldWriteElsewhere) {
  const fs::path temp = dir / "temp";
  std::ofstream(path, std::ios::binary) << "precious";
  fs::create_symlink(path, temp / "symlink.log");
  fs::create_symlink(dir / "dangling.log", temp / "dangling.log");
  fs::create_hard_link(path, temp / "hardlink.log");
  fs::create_directory(temp / "folder.log");
  ASSERT_EQ(mkfifo((temp / "fifo.log").c_str(), 0600), 0);
  LatencyLog log;
  for (const char* name : {"symlink.log", "dangling.log", "hardlink.log", "folder.log", "fifo.log"})
    EXPECT_NE(log.OpenTemp(name, 64), platform::TempLogOpen::kOpened) << name;
  EXPECT_EQ(log.OpenTemp("hardlink.log", 64), platform::TempLogOpen::kNotPlainFile);
  for (const char* name : {"../escaped.log", "sub/x.log", "..\\escaped.log", "C:x.log", ""})
    EXPECT_EQ(log.OpenTemp(name, 64), platform::TempLogOpen::kNotAName) << name;
  EXPECT_EQ(log.OpenTemp(std::string(300, 'n').c_str(), 64), platform::TempLogOpen::kNotAName);
  EXPECT_FALSE(log.IsOpen());
  EXPECT_EQ(Contents(), "precious");
  EXPECT_FALSE(fs::exists(dir / "dangling.log"));
  EXPECT_FALSE(fs::exists(dir / "escaped.log"));
}

// Failure of the file system: bytes that cannot be written stay pending, and lines that no
// longer fit are dropped rather than overrunning the buffer.
TEST(LatencyLogDevice, FailedWritesKeepPendingBytes) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  LatencyLog log;
  ASSERT_TRUE(log.Open("/dev/full", 32));
  ASSERT_TRUE(log.Append(std::string(20, 'a').c_str()));
  EXPECT_FALSE(log.Flush());
  EXPECT_EQ(log.Pending(), 20);
  EXPECT_FALSE(log.Append(std::string(13, 'b').c_str()));
  EXPECT_EQ(log.Pending(), 20);
  EXPECT_TRUE(log.Append(std::string(12, 'c').c_str()));
  EXPECT_EQ(log.Pending(), 32);
  EXPECT_TRUE(log.Close());
  EXPECT_EQ(log.Pending(), 0);
}
#endif

}  // namespace
}  // namespace qp::diag
