#include "config/log_file_name.h"

#include <cstring>

namespace qp::config {
namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// `stem` (`length` characters, no extension) names a device the system opens instead of a file.
bool IsDeviceName(const char* stem, std::size_t length) {
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
  char upper[8] = {};
  if (length >= sizeof upper) return false;
  for (std::size_t i = 0; i < length; ++i) upper[i] = Upper(stem[i]);
  for (const char* device : kDevices) {
    if (std::strcmp(upper, device) == 0) return true;
  }
  // COM0-COM9 and LPT0-LPT9.
  return length == 4 &&
         (std::strncmp(upper, "COM", 3) == 0 || std::strncmp(upper, "LPT", 3) == 0) &&
         upper[3] >= '0' && upper[3] <= '9';
}

}  // namespace

bool IsLogFileName(const char* name) {
  if (name == nullptr) return false;
  std::size_t length = 0;
  while (length <= kMaxLogFileName && name[length] != '\0') ++length;
  if (length == 0 || length > kMaxLogFileName) return false;
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c > 0x7E || std::strchr("<>:\"/\\|?*", c) != nullptr) return false;
  }
  if (name[0] == ' ' || name[length - 1] == '.' || name[length - 1] == ' ') return false;
  if (std::strstr(name, "..") != nullptr) return false;
  // Windows trims blanks before the extension too: "NUL .txt" is NUL.
  std::size_t stem = 0;
  while (stem < length && name[stem] != '.') ++stem;
  while (stem > 0 && name[stem - 1] == ' ') --stem;
  return !IsDeviceName(name, stem);
}

}  // namespace qp::config
