// Log file names from the INI file: what passes is one ordinary file in the folder the module
// chooses; paths, devices and names Windows would reinterpret are refused.
#include "config/log_file_name.h"

#include <gtest/gtest.h>

#include <string>

namespace qp::config {
namespace {

TEST(LogFileName, PlainNamesPass) {
  for (const char* name : {"latency.log", "a", "QuorPlemo latency 2.txt", "x.y.z", ".hidden",
                           "CONSOLE.log", "COM10", "LPT", "nul_file", "con-1.log", "name_with$"}) {
    EXPECT_TRUE(IsLogFileName(name)) << name;
  }
  EXPECT_TRUE(IsLogFileName(std::string(kMaxLogFileName, 'n').c_str()));
}

TEST(LogFileName, PathsAndReinterpretedNamesAreRefused) {
  const char* const refused[] = {
      // separators, drives, streams and climbing out
      "..\\latency.log", "../latency.log", "dir/latency.log", "dir\\latency.log", "C:latency.log",
      "C:\\latency.log", "\\\\server\\share\\x.log", "latency.log:stream", "..", ".", "a..b",
      // reserved characters and control characters
      "a<b", "a>b", "a\"b", "a|b", "a?b", "a*b", "tab\there", "new\nline",
      // trailing dots and blanks vanish on Windows; a leading blank is a trap
      "latency.", "latency ", " latency",
      // devices, in any case, with an extension or blanks before it
      "CON", "con", "Nul", "PRN.log", "aux.txt", "COM1", "com9.log", "LPT0", "lpt3.txt", "CONIN$",
      "conout$.log", "CLOCK$", "NUL .txt",
      // non-ASCII (a code page may map it to a separator), empty, over-long
      "caf\xc3\xa9.log",
      "\xef\xbc\xbc"
      "evil",
      ""};
  for (const char* name : refused) EXPECT_FALSE(IsLogFileName(name)) << name;
  EXPECT_FALSE(IsLogFileName(nullptr));
  EXPECT_FALSE(IsLogFileName(std::string(kMaxLogFileName + 1, 'n').c_str()));
  EXPECT_FALSE(IsLogFileName(std::string(5000, 'n').c_str()));
}

}  // namespace
}  // namespace qp::config
