// The check options both tools parse: one set of bounds, garbage and overflow refused with a
// message naming the option, and only the options a tool accepts taken.
#include "check/check_options.h"

#include <gtest/gtest.h>

#include <string>

namespace qp::check {
namespace {

constexpr uint32_t kAll = kOptionInstall | kOptionIni | kOptionPreset | kOptionCsv | kOptionJson |
                          kOptionPlot | kOptionMaxMissing | kOptionMaxRepeats;

TEST(WholeNumber, DigitsOnlyWithinTheBound) {
  const struct {
    const char* text;
    int64_t max;
    bool ok;
    int64_t value;
  } cases[] = {
      {"0", 999, true, 0},
      {"999", 999, true, 999},
      {"007", 999, true, 7},
      {"1000", 999, false, 0},
      {"5", 5, true, 5},
      {"7", 5, false, 0},
      {"60", 5, false, 0},
      {"2147483647", kMaxFrameCount, true, 2147483647},
      {"2147483648", kMaxFrameCount, false, 0},
      {"99999999999999999999999999", kMaxFrameCount, false, 0},
      {"9223372036854775807", INT64_MAX, true, INT64_MAX},
      {"9223372036854775808", INT64_MAX, false, 0},
      {"", 999, false, 0},
      {"-1", 999, false, 0},
      {"+1", 999, false, 0},
      {" 1", 999, false, 0},
      {"1 ", 999, false, 0},
      {"1.5", 999, false, 0},
      {"1e3", kMaxFrameCount, false, 0},
      {"0x10", 999, false, 0},
      {"many", 999, false, 0},
  };
  for (const auto& c : cases) {
    int64_t value = -7;
    EXPECT_EQ(c.ok, ParseWholeNumber(c.text, c.max, value)) << '"' << c.text << '"';
    EXPECT_EQ(c.ok ? c.value : -7, value) << '"' << c.text << '"';
  }
  int64_t value = 0;
  EXPECT_FALSE(ParseWholeNumber(nullptr, 999, value));
}

TEST(CheckOptionParser, TakesEachOptionIntoItsField) {
  CheckOptions o;
  std::string error;
  const struct {
    const char* name;
    const char* value;
  } line[] = {{"--install", "/opt/qp"}, {"--ini", "a.ini"},
              {"--preset", "999"},      {"--csv", "f.csv"},
              {"--json", "f.json"},     {"--plot", "f.png"},
              {"--max-missing", "0"},   {"--max-repeats", "2147483647"}};
  for (const auto& l : line)
    EXPECT_EQ(OptionParse::kTaken, ParseCheckOption(l.name, l.value, kAll, o, error)) << l.name;
  EXPECT_EQ("/opt/qp", o.install);
  EXPECT_EQ("a.ini", o.ini);
  EXPECT_EQ(999, o.preset);
  EXPECT_EQ("f.csv", o.csv);
  EXPECT_EQ("f.json", o.json);
  EXPECT_EQ("f.png", o.plot);
  EXPECT_EQ(0, o.limits.max_missing);
  EXPECT_EQ(2147483647, o.limits.max_repeats);
}

TEST(CheckOptionParser, RefusesBadValuesWithTheBoundsInTheMessage) {
  CheckOptions o;
  std::string error;
  EXPECT_EQ(OptionParse::kBad, ParseCheckOption("--preset", "1000", kAll, o, error));
  EXPECT_EQ("--preset takes a whole number from 0 to 999, not \"1000\"", error);
  EXPECT_EQ(OptionParse::kBad, ParseCheckOption("--max-missing", "1e3", kAll, o, error));
  EXPECT_EQ("--max-missing takes a whole number from 0 to 2147483647, not \"1e3\"", error);
  EXPECT_EQ(OptionParse::kBad, ParseCheckOption("--max-repeats", "-1", kAll, o, error));
  EXPECT_EQ(OptionParse::kBad, ParseCheckOption("--preset", nullptr, kAll, o, error));
  EXPECT_EQ("--preset needs a value", error);
  EXPECT_EQ(OptionParse::kBad, ParseCheckOption("--json", "", kAll, o, error));
  EXPECT_EQ("--json needs a value", error);
  // Nothing refused was stored.
  EXPECT_EQ(-1, o.preset);
  EXPECT_EQ(-1, o.limits.max_missing);
  EXPECT_EQ(-1, o.limits.max_repeats);
  EXPECT_TRUE(o.json.empty());
}

TEST(CheckOptionParser, LeavesWhatTheToolDoesNotAcceptToIt) {
  CheckOptions o;
  std::string error;
  const uint32_t live = kOptionInstall | kOptionPreset | kOptionJson;
  EXPECT_EQ(OptionParse::kNotMine, ParseCheckOption("--csv", "f.csv", live, o, error));
  EXPECT_EQ(OptionParse::kNotMine, ParseCheckOption("--plot", nullptr, live, o, error));
  EXPECT_EQ(OptionParse::kNotMine, ParseCheckOption("-t", "5", kAll, o, error));
  EXPECT_EQ(OptionParse::kNotMine, ParseCheckOption("--preset=1", nullptr, kAll, o, error));
  EXPECT_TRUE(o.csv.empty());
  EXPECT_TRUE(error.empty());
}

}  // namespace
}  // namespace qp::check
