// A check's outputs for a known report: every CSV column and JSON field, names that need
// escaping (or are no UTF-8) still giving JSON that parses, the files' "\n" line ends on every
// system, the plot's data, the limits' verdicts, and the ending of a check that read nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "check/check_ending.h"
#include "check/check_report.h"
#include "check/check_verdict.h"
#include "check/report_files.h"
#include "check/report_plot.h"
#include "support/temp_dir.h"

namespace qp::check {
namespace {

const std::string kAssets = QP_ASSETS_DIR;
// Quotes, a backslash, control characters, UTF-8 and a byte that is no UTF-8.
const std::string kAwkwardName = "rec \"one\" \\ tab\t nl\n bell\x07 caf\xC3\xA9 \xFF.avi";
const std::string kAwkwardAsParsed =
    "rec \"one\" \\ tab\t nl\n bell\x07 caf\xC3\xA9 \xEF\xBF\xBD.avi";

FrameResult Result(int64_t position, FrameKind kind, int64_t frame) {
  FrameResult r;
  r.position = position;
  r.time_ms = position * 33.3666;
  r.kind = kind;
  r.frame = frame;
  r.drops = 2;
  r.clock_known = frame >= 0;
  r.clock_ms = static_cast<uint32_t>(1000 + position * 33);
  r.confidence = 0.875;
  r.psnr = 41.237;
  r.lag_ms = 1.5;
  return r;
}

CheckReport KnownReport() {
  CheckReport report;
  report.recording = kAwkwardName;
  report.info = {"avi", "rawvideo", "yuyv422", 640, 480, 29.97, 40, "BT.601", "limited", false};
  report.decode_errors = 3;
  report.converted_frames = 4;
  report.preset_known = true;
  report.preset_fps = 30.0;
  report.choice = {2, true, false, "640x480 \"YUY2\"", "640x48O \\YUY2", "CPU Clock"};
  report.colour.frames = 8;
  report.colour.likely = ColourHandling::Bt601Limited;
  report.colour.implied = ColourHandling::Bt709Limited;
  report.colour.matches = false;
  report.warnings = {"the \"header\" read\nwas odd"};
  RecordingAnalysis& a = report.analysis;
  a.frames = 4;
  a.read = 3;
  a.unreadable = 1;
  a.rejected = 1;
  a.inferred = 1;
  a.any_identified = true;
  a.first_frame = 10;
  a.last_frame = 15;
  a.missing = 3;
  a.losses = {{11, 12, 2}, {14, 14, 1}};
  a.longest_loss = 2;
  a.repeats = 1;
  a.source_drops = 2;
  a.frame_time_ms = 33.36667;
  a.intervals = {3, 33.3666, 33.0, 34.0, 0.4714, 33.99};
  a.drift_known = true;
  a.drift_ms = -1.23456;
  a.drift_ppm = 12.345;
  a.lag_known = false;
  a.lag_note = "no \"clock\" read";
  a.psnr = {3, 40.5, 39.25, 41.0, 0.5, 41.0};
  a.results = {Result(0, FrameKind::Next, 10), Result(1, FrameKind::AfterLoss, 13),
               Result(2, FrameKind::Repeat, 13), Result(3, FrameKind::Inferred, -1)};
  a.results[3].placed = 14;
  a.results[3].rejected = true;
  a.results[3].lag_ms = kUnknown;
  a.results[3].psnr = kUnknown;
  a.results[3].time_ms = kUnknown;
  a.results[1].lost_before = 2;
  report.limits = {2, -1};
  report.verdict = JudgeLimits(a, report.limits);
  return report;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(CheckVerdict, LimitsHoldUpToTheirValueAndNoLimitIsNeverBroken) {
  RecordingAnalysis a;
  a.missing = 5;
  a.repeats = 2;
  EXPECT_TRUE(JudgeLimits(a, {}).within);
  EXPECT_TRUE(JudgeLimits(a, {5, 2}).within);
  const CheckVerdict missing = JudgeLimits(a, {4, 2});
  EXPECT_FALSE(missing.within);
  EXPECT_EQ(std::vector<std::string>{"missing frames 5, more than 4"}, missing.exceeded);
  const CheckVerdict both = JudgeLimits(a, {0, 1});
  EXPECT_EQ((std::vector<std::string>{"missing frames 5, more than 0", "repeats 2, more than 1"}),
            both.exceeded);
}

TEST(ReportCsv, EveryColumnOfEveryFrame) {
  const std::string csv = ReportCsv(KnownReport());
  EXPECT_EQ(
      "position,time_ms,kind,frame,placed,lost_before,drops,clock_ms,confidence,rejected,lag_ms,"
      "psnr_db\n"
      "0,0.000,next,10,,0,2,1000,0.875,0,1.500,41.24\n"
      "1,33.367,after-loss,13,,2,2,1033,0.875,0,1.500,41.24\n"
      "2,66.733,repeat,13,,0,2,1066,0.875,0,1.500,41.24\n"
      "3,,inferred,,14,0,,,0.875,1,,\n",
      csv);
}

TEST(ReportJson, EveryFieldParsesBackWithEscapedNames) {
  const nlohmann::json j = nlohmann::json::parse(ReportJson(KnownReport()));
  EXPECT_EQ(kAwkwardAsParsed, j["recording"]);
  EXPECT_EQ(nlohmann::json::parse(R"({"container": "avi", "codec": "rawvideo",
      "pixel_format": "yuyv422", "width": 640, "height": 480, "declared_fps": 29.97,
      "decode_errors": 3, "converted_frames": 4})"),
            j["stream"]);
  EXPECT_EQ(nlohmann::json::parse(R"({"index": 2, "header": "640x480 \"YUY2\"",
      "header_confirmed": true, "header_read": "640x48O \\YUY2", "clock": "CPU Clock",
      "scaled": false, "frame_time_ms": 33.3667})"),
            j["preset"]);
  EXPECT_EQ(4, j["frames"]);
  EXPECT_EQ(3, j["read"]);
  EXPECT_EQ(1, j["unreadable"]);
  EXPECT_EQ(1, j["inferred"]);
  EXPECT_EQ(1, j["rejected"]);
  EXPECT_EQ(10, j["first_frame"]);
  EXPECT_EQ(15, j["last_frame"]);
  EXPECT_EQ(3, j["missing"]);
  EXPECT_EQ(2, j["longest_loss"]);
  EXPECT_EQ(nlohmann::json::parse(
                R"([{"first": 11, "last": 12, "lost": 2}, {"first": 14, "last": 14, "lost": 1}])"),
            j["losses"]);
  EXPECT_EQ(1, j["repeats"]);
  EXPECT_EQ(0, j["reorderings"]);
  EXPECT_EQ(2, j["source_drops"]);
  EXPECT_EQ(nlohmann::json::parse(
                R"({"count": 3, "mean": 33.367, "min": 33.0, "max": 34.0, "stddev": 0.471,
                    "p99": 33.99})"),
            j["intervals_ms"]);
  EXPECT_EQ(nlohmann::json::parse(R"({"ms": -1.235, "ppm": 12.3})"), j["drift"]);
  EXPECT_TRUE(j["lag_ms"].is_null());
  EXPECT_EQ("no \"clock\" read", j["lag_note"]);
  EXPECT_EQ(3, j["psnr_db"]["count"]);
  EXPECT_EQ(39.25, j["psnr_db"]["min"]);
  EXPECT_EQ(nlohmann::json::parse(R"({"frames": 8, "likely": "BT.601 limited",
      "implied": "BT.709 limited", "matches": false, "declared_matrix": "BT.601",
      "declared_range": "limited", "grey": false})"),
            j["colour"]);
  EXPECT_EQ(nlohmann::json::parse(R"(["the \"header\" read\nwas odd"])"), j["warnings"]);
  EXPECT_EQ(nlohmann::json::parse(R"({"max_missing": 2, "max_repeats": null,
      "exceeded": ["missing frames 3, more than 2"]})"),
            j["limits"]);
  EXPECT_EQ(24u, j.size()) << "a field was added or lost";
}

TEST(ReportJson, UnknownFiguresAreNullNotZero) {
  CheckReport report;
  report.info.nominal_fps = 0.0;
  const nlohmann::json j = nlohmann::json::parse(ReportJson(report));
  EXPECT_TRUE(j["stream"]["declared_fps"].is_null());
  EXPECT_TRUE(j["first_frame"].is_null());
  EXPECT_TRUE(j["last_frame"].is_null());
  EXPECT_TRUE(j["drift"].is_null());
  EXPECT_TRUE(j["intervals_ms"]["mean"].is_null());
  EXPECT_TRUE(j["limits"]["max_missing"].is_null());
  EXPECT_EQ(0u, j["losses"].size());
}

// Run under Wine too: a file opened in text mode would gain "\r" there.
TEST(ReportFiles, WrittenWithPlainLineEndsAndRefusedWhereNoFolderIs) {
  test::TempDir dir;
  const CheckReport report = KnownReport();
  std::string error;
  ASSERT_TRUE(WriteCsv(dir.PathOf("r.csv"), report, error)) << error;
  ASSERT_TRUE(WriteJson(dir.PathOf("r.json"), report, error)) << error;
  EXPECT_EQ(ReportCsv(report), ReadBytes(dir.PathOf("r.csv")));
  EXPECT_EQ(ReportJson(report), ReadBytes(dir.PathOf("r.json")));
  EXPECT_EQ(std::string::npos, ReadBytes(dir.PathOf("r.csv")).find('\r'));

  const std::string nowhere = dir.PathOf("no-such-folder/r.csv");
  EXPECT_FALSE(WriteCsv(nowhere, report, error));
  EXPECT_EQ("cannot write " + nowhere, error);
  EXPECT_FALSE(WriteJson(nowhere, report, error));
}

TEST(ReportPlot, DataBlocksHoldTheMarkedFramesAndTheTitleStaysOneQuotedLine) {
  CheckReport report = KnownReport();
  report.recording = "/tmp/it's\nname.avi";
  const std::string script = PlotScript(report, "/tmp/o'ut.png");
  EXPECT_NE(std::string::npos, script.find("$received << EOD\n0 10\n1 13\n2 13\nEOD\n"));
  EXPECT_NE(std::string::npos, script.find("$after << EOD\n1 13\nEOD\n"));
  EXPECT_NE(std::string::npos, script.find("$repeat << EOD\n2 13\nEOD\n"));
  EXPECT_NE(std::string::npos, script.find("$reordered << EOD\nEOD\n"));
  EXPECT_NE(std::string::npos, script.find("$inferred << EOD\n3 14\nEOD\n"));
  // An empty block is not plotted: gnuplot refuses one.
  EXPECT_EQ(std::string::npos, script.find("$reordered using"));
  EXPECT_NE(std::string::npos, script.find("$repeat using"));
  EXPECT_NE(std::string::npos, script.find("set output '/tmp/o''ut.png'\n"));
  EXPECT_NE(std::string::npos,
            script.find("title 'it''s name.avi: 4 frames, 3 missing, 1 repeats, 0 reordered, "
                        "1 unreadable'\n"));
  EXPECT_NE(std::string::npos, script.find("($2-$1-10)"));
}

TEST(CheckEnding, NothingReadEndsWithoutStatusLineAndStillWritesItsFiles) {
  CheckSession session;
  SessionSettings settings;
  settings.install_dir = kAssets;
  std::string error;
  ASSERT_TRUE(session.Open(settings, error)) << error;
  test::TempDir dir;
  CheckReport report;
  report.limits = {0, 0};
  std::FILE* summary = std::tmpfile();
  ASSERT_NE(nullptr, summary);
  const CheckEnding ending =
      EndCheck(session, report, dir.PathOf("n.csv"), dir.PathOf("none/n.json"), summary);
  std::fclose(summary);
  EXPECT_EQ(CheckOutcome::kNoStatusLine, ending.outcome);
  EXPECT_EQ(std::vector<std::string>{"cannot write " + dir.PathOf("none/n.json")}, ending.errors);
  EXPECT_EQ(
      "position,time_ms,kind,frame,placed,lost_before,drops,clock_ms,confidence,rejected,"
      "lag_ms,psnr_db\n",
      ReadBytes(dir.PathOf("n.csv")));
  EXPECT_TRUE(report.verdict.within);
  EXPECT_FALSE(report.preset_known);
}

}  // namespace
}  // namespace qp::check
