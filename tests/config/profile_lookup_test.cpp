// The INI lookup rules the configuration relies on, as one table. In the Windows build the
// table runs against the platform's own lookup and against the project's portable reader, so
// both must agree; natively the portable reader is the lookup.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "config/profile_file.h"
#include "platform/ini_text_lookup.h"
#include "platform/profile_lookup.h"
#include "support/temp_dir.h"

namespace qp {
namespace {

struct LookupCase {
  const char* name;
  std::string file;  // file text
  const char* section;
  const char* key;
  std::size_t size;  // destination size, terminator included
  bool present;
  std::string value;  // expected when present
};

std::string Repeat(char c, std::size_t n) { return std::string(n, c); }

const LookupCase kCases[] = {
    {"plain", "[MAIN]\nbuff_num=3\n", "MAIN", "buff_num", 260, true, "3"},
    {"names ignore case", "[main]\nBUFF_NUM=3\n", "MAIN", "buff_num", 260, true, "3"},
    {"blanks around name and value", "[MAIN]\n  w  =   640  \n", "MAIN", "w", 260, true, "640"},
    {"tabs around name and value", "[MAIN]\n\tw\t=\t640\t\n", "MAIN", "w", 260, true, "640"},
    {"asked name with trailing blank", "[MAIN]\npreset_num=4\n", "MAIN", "preset_num ", 260, true,
     "4"},
    {"file name with trailing blank", "[MAIN]\npreset_num =4\n", "MAIN", "preset_num", 260, true,
     "4"},
    {"blanks inside section brackets", "[ MAIN ]\nw=5\n", "MAIN", "w", 260, true, "5"},
    {"empty value is present", "[P]\nbmp=\n", "P", "bmp", 260, true, ""},
    {"blank value is present and empty", "[P]\nbmp=   \n", "P", "bmp", 260, true, ""},
    {"missing key", "[P]\nfont=a.bmp\n", "P", "bmp", 260, false, ""},
    {"missing section", "[Q]\nbmp=a.bmp\n", "P", "bmp", 260, false, ""},
    {"key of another section", "[Q]\nbmp=a\n[P]\nfont=b\n", "P", "bmp", 260, false, ""},
    {"key before any section", "bmp=a\n[P]\nfont=b\n", "P", "bmp", 260, false, ""},
    {"double quotes removed", "[P]\nbmp=\"C:\\pic.bmp\"\n", "P", "bmp", 260, true, "C:\\pic.bmp"},
    {"single quotes removed", "[P]\nbmp='a b'\n", "P", "bmp", 260, true, "a b"},
    {"quoted blanks kept", "[P]\nbmp=\"  x  \"\n", "P", "bmp", 260, true, "  x  "},
    {"unmatched quote kept", "[P]\nbmp=\"abc\n", "P", "bmp", 260, true, "\"abc"},
    {"mixed quotes kept", "[P]\nbmp=\"abc'\n", "P", "bmp", 260, true, "\"abc'"},
    {"value cut to size", "[P]\nc=" + Repeat('v', 300) + "\n", "P", "c", 260, true,
     Repeat('v', 259)},
    {"five-character buffer", "[P]\nfcc=YUY2X\n", "P", "fcc", 5, true, "YUY2"},
    {"first key wins", "[P]\nw=1\nw=2\n", "P", "w", 260, true, "1"},
    {"first section searched", "[P]\nh=1\n[Q]\n[P]\nw=2\n", "P", "h", 260, true, "1"},
    {"later section of the same name", "[P]\nh=1\n[Q]\n[P]\nw=2\n", "P", "w", 260, false, ""},
    {"comment line", "[P]\n;w=5\n", "P", "w", 260, false, ""},
    {"equals inside value", "[P]\nc=a=b\n", "P", "c", 260, true, "a=b"},
    {"semicolon inside value", "[P]\nc=a ; b\n", "P", "c", 260, true, "a ; b"},
    {"CRLF line ends", "[P]\r\nw=5\r\nh=6\r\n", "P", "h", 260, true, "6"},
    {"no line end at the end", "[P]\nw=5", "P", "w", 260, true, "5"},
    {"line without equals sign", "[P]\nw\nh=2\n", "P", "h", 260, true, "2"},
    {"long line before the key", "[P]\nx=" + Repeat('z', 100000) + "\nw=7\n", "P", "w", 260, true,
     "7"},
    {"long name never matches a short one", "[P]\n" + Repeat('w', 5000) + "=1\nw=2\n", "P", "w",
     260, true, "2"},
};

class ProfileLookupTable : public ::testing::TestWithParam<LookupCase> {
 protected:
  test::TempDir dir_;
};

// The lookup through ProfileFile::ReadString: presence and value.
TEST_P(ProfileLookupTable, PlatformLookupGivesTheExpectedValue) {
  const LookupCase& c = GetParam();
  // A fresh file name per case: the platform may cache a profile by name.
  std::string path = dir_.Write("lookup.ini", c.file);
  config::ProfileFile file(path.c_str());
  std::string value(c.size, '\x7f');
  value.back() = '\0';
  bool present = file.ReadString(c.section, c.key, value.data(), c.size);
  EXPECT_EQ(present, c.present);
  if (c.present) {
    EXPECT_EQ(std::string(value.c_str()), c.value);
  } else {
    EXPECT_EQ(value.find_first_not_of('\x7f'), c.size - 1)
        << "absent value touched the destination";
  }
}

// The project's own reader directly: on Windows this proves it answers like the platform.
TEST_P(ProfileLookupTable, PortableReaderGivesTheExpectedValue) {
  const LookupCase& c = GetParam();
  std::string path = dir_.Write("portable.ini", c.file);
  std::FILE* stream = std::fopen(path.c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  std::string value(c.size, '\x7f');
  bool present = platform::FindIniValue(stream, c.section, c.key, value.data(), c.size);
  std::fclose(stream);
  EXPECT_EQ(present, c.present);
  if (c.present) {
    EXPECT_EQ(std::string(value.c_str()), c.value);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ProfileLookupTable, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<LookupCase>& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p; ++p)
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return name;
                         });

TEST(ProfileLookup, MissingFileGivesTheDefault) {
  test::TempDir dir;
  std::string path = dir.PathOf("absent.ini");
  char buffer[16];
  EXPECT_EQ(platform::ProfileString(path.c_str(), "P", "w", "dflt", buffer, sizeof buffer), 4u);
  EXPECT_STREQ(buffer, "dflt");
  EXPECT_EQ(platform::ProfileString(path.c_str(), "P", "w", "longer default", buffer, 5), 4u);
  EXPECT_STREQ(buffer, "long");
}

// The absent marker is a value of one character of code 1; such a value reads as absent.
TEST(ProfileLookup, ValueOfTheAbsentMarkerReadsAsAbsent) {
  test::TempDir dir;
  std::string path = dir.Write("marker.ini", "[P]\nbmp=\x01\n");
  config::ProfileFile file(path.c_str());
  char value[8] = "keep";
  EXPECT_FALSE(file.ReadString("P", "bmp", value, sizeof value));
  EXPECT_STREQ(value, "keep");
}

}  // namespace
}  // namespace qp
