// The latency log through the module: [MAIN] latency_log names a file in the user's temporary
// folder that every run of a graph appends to; a name that is a path, a device or a hard link
// writes nothing anywhere, and the stream runs as without a log.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "capture/capture_graph_test.h"
#include "module/module_harness.h"

namespace qp::test {
namespace {

namespace fs = std::filesystem;

constexpr size_t kFrames = 12;

fs::path TempFolder() {
  wchar_t path[MAX_PATH + 1];
  DWORD length = GetTempPathW(MAX_PATH + 1, path);
  while (length > 3 && path[length - 1] == L'\\') --length;  // ends with one
  return fs::path(std::wstring(path, length));
}

fs::path ModuleFolder() { return fs::path(ModulePath()).parent_path(); }

std::string Contents(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int LatencyLines(const std::string& text) {
  int lines = 0;
  for (size_t at = text.find("Latancy="); at != std::string::npos;
       at = text.find("Latancy=", at + 1))
    ++lines;
  return lines;
}

// A name of this process's own, so that parallel or earlier runs leave nothing to confuse.
std::string Unique(const std::string& stem) {
  return stem + "_" + std::to_string(GetCurrentProcessId()) + ".log";
}

class LatencyLogGraphTest : public CaptureGraphTest {
 protected:
  void SetUp() override {
    CaptureGraphTest::SetUp();
    PlacePictures(320, 240);
  }

  // Streams kFrames frames at 100 fps from an INI whose [MAIN] holds `latency_key`, then
  // stops and releases the graph and the filter.
  void RunGraph(const std::string& latency_key) {
    files_.Ini(OnePresetIni(320, 240, "YUY2", "frame_time=100\n", latency_key + "\n"));
    SampleLog log;
    {
      ComPtr<IBaseFilter> source;
      GrabberGraph graph;
      ASSERT_NO_FATAL_FAILURE(Connect(source, graph, log));
      Watchdog dog(30000, "a graph run with a latency log key");
      ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
      EXPECT_TRUE(log.WaitFor(kFrames, 10000)) << latency_key << ": " << log.Count() << " frames";
      graph.Stop();
    }
  }
};

// A line per frame reaches the file by the stop; the next run appends after it.
TEST_F(LatencyLogGraphTest, EachRunAppendsItsLinesToTheFileInTheTemporaryFolder) {
  const std::string name = Unique("qp_latency");
  const fs::path file = TempFolder() / name;
  fs::remove(file);

  RunGraph("latency_log=" + name);
  const std::string first = Contents(file);
  EXPECT_GE(LatencyLines(first), int(kFrames)) << first;
  EXPECT_FALSE(fs::exists(ModuleFolder() / name));

  RunGraph("latency_log=" + name);
  const std::string both = Contents(file);
  EXPECT_EQ(both.compare(0, first.size(), first), 0);
  EXPECT_GE(LatencyLines(both), LatencyLines(first) + int(kFrames));
  fs::remove(file);
}

TEST_F(LatencyLogGraphTest, PathsAndDevicesAreRefusedAndWriteNothingAnywhere) {
  const std::string name = Unique("qp_escape");
  const fs::path temp = TempFolder();
  const fs::path module = ModuleFolder();
  const fs::path places[] = {
      temp / name,   temp.parent_path() / name, temp.parent_path().parent_path() / name,
      module / name, fs::current_path() / name, fs::path(L"C:\\") / name};
  for (const fs::path& place : places) fs::remove(place);
  const std::string values[] = {"..\\" + name,
                                "..\\..\\" + name,
                                "C:\\" + name,
                                "C:" + name,
                                (module / name).string(),
                                "sub/" + name,
                                "NUL",
                                "COM1.log",
                                name + ":stream",
                                std::string(300, 'n')};
  for (const std::string& value : values) {
    RunGraph("latency_log=" + value);
    for (const fs::path& place : places) EXPECT_FALSE(fs::exists(place)) << value << " → " << place;
  }
  EXPECT_FALSE(fs::exists(temp / "sub"));
}

// A name already taken in the temporary folder by a second hard link of another file would
// let whoever made the link choose the file written: refused, the file keeps its bytes.
TEST_F(LatencyLogGraphTest, AHardLinkInTheTemporaryFolderIsNotWrittenThrough) {
  const fs::path target = ModuleFolder() / Unique("qp_link_target");
  const std::string name = Unique("qp_hard_link");
  const fs::path link = TempFolder() / name;
  fs::remove(link);
  std::ofstream(target, std::ios::binary) << "precious";
  if (!CreateHardLinkW(link.c_str(), target.c_str(), nullptr)) {
    fs::remove(target);
    GTEST_SKIP() << "no hard links here (" << GetLastError() << ")";
  }
  RunGraph("latency_log=" + name);
  EXPECT_EQ(Contents(target), "precious");
  EXPECT_EQ(Contents(link), "precious");
  fs::remove(link);
  fs::remove(target);
}

}  // namespace
}  // namespace qp::test
