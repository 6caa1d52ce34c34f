// Typed reads: numbers read the way "%d" and "%f" read them, and absent values never touch the
// destination.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "config/number_text.h"
#include "config/profile_file.h"
#include "support/temp_dir.h"

namespace qp::config {
namespace {

TEST(NumberText, IntegersStopAtTheFirstCharacterThatIsNotPartOfTheNumber) {
  struct Case {
    const char* text;
    bool parsed;
    int32_t value;
  };
  const Case cases[] = {
      {"640", true, 640},
      {"  640  ", true, 640},
      {"640x480", true, 640},
      {"0x140", true, 0},
      {"-2", true, -2},
      {"+7", true, 7},
      {"29.97", true, 29},
      {"\t12", true, 12},
      {"abc", false, 99},
      {"", false, 99},
      {"-", false, 99},
      {"- 5", false, 99},
      {"2147483647", true, INT_MAX},
      {"-2147483648", true, INT_MIN},
      {"2147483648", true, INT_MAX},
      {"-2147483649", true, INT_MIN},
      {"99999999999999999999999", true, INT_MAX},
  };
  for (const Case& c : cases) {
    int32_t value = 99;
    EXPECT_EQ(ParseDecimalInt(c.text, value), c.parsed) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
}

TEST(NumberText, RealsAcceptDecimalAndExponentNotationOnly) {
  struct Case {
    const char* text;
    bool parsed;
    float value;
  };
  const Case cases[] = {
      {"29.97", true, 29.97f},  {" 25", true, 25.0f},    {".5", true, 0.5f},   {"5.", true, 5.0f},
      {"-1e3", true, -1000.0f}, {"1E+2x", true, 100.0f}, {"1e", true, 1.0f},   {"2e-", true, 2.0f},
      {"0x10", true, 0.0f},     {"inf", false, 7.0f},    {"nan", false, 7.0f}, {".", false, 7.0f},
      {"word", false, 7.0f},
  };
  for (const Case& c : cases) {
    float value = 7.0f;
    EXPECT_EQ(ParseReal(c.text, value), c.parsed) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
}

class TypedReads : public ::testing::Test {
 protected:
  test::TempDir dir_;
};

TEST_F(TypedReads, PresentButUnparsableNumberIsTrueAndKeepsTheValue) {
  ProfileFile file(dir_.Write("t.ini", "[P]\nw=abc\nh=\nr=29.97\n").c_str());
  int32_t w = 5, h = 6, missing = 7;
  EXPECT_TRUE(file.ReadInt("P", "w", w));
  EXPECT_EQ(w, 5);
  EXPECT_FALSE(file.ReadInt("P", "h", h)) << "an empty value is absent for numbers";
  EXPECT_EQ(h, 6);
  EXPECT_FALSE(file.ReadInt("P", "x", missing));
  EXPECT_EQ(missing, 7);
  int32_t whole = 0;
  float real = 0.0f;
  EXPECT_TRUE(file.ReadInt("P", "r", whole));
  EXPECT_TRUE(file.ReadReal("P", "r", real));
  EXPECT_EQ(whole, 29);
  EXPECT_EQ(real, 29.97f);
}

TEST_F(TypedReads, StringsTellEmptyFromAbsent) {
  ProfileFile file(dir_.Write("s.ini", "[P]\nbmp=\nfont=a.bmp\n").c_str());
  char bmp[16] = "old", font[16] = "old", other[16] = "old";
  EXPECT_TRUE(file.ReadString("P", "bmp", bmp, sizeof bmp));
  EXPECT_STREQ(bmp, "");
  EXPECT_TRUE(file.ReadString("P", "font", font, sizeof font));
  EXPECT_STREQ(font, "a.bmp");
  EXPECT_FALSE(file.ReadString("P", "other", other, sizeof other));
  EXPECT_STREQ(other, "old");
  EXPECT_FALSE(file.ReadString("P", "font", nullptr, 16));
  EXPECT_FALSE(file.ReadString("P", "font", other, 0));
}

}  // namespace
}  // namespace qp::config
