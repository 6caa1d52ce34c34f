#include "config/profile_file.h"

#include <cstring>
#include <memory>
#include <new>

#include "config/number_text.h"
#include "platform/profile_lookup.h"

namespace qp::config {

ProfileFile::ProfileFile(const char* path) {
  std::size_t length = path ? std::strlen(path) : 0;
  // A path cut short would name some other file: such a path is no file at all.
  if (length > sizeof path_ - 1) length = 0;
  if (length != 0) std::memcpy(path_, path, length);
  path_[length] = '\0';
}

bool ProfileFile::ReadNumberText(const char* section, const char* key,
                                 char (&text)[kNumberBuffer]) const {
  text[0] = '\0';
  if (path_[0] == '\0') return false;
  platform::ProfileString(path_, section, key, "", text, sizeof text);
  return text[0] != '\0';
}

bool ProfileFile::ReadInt(const char* section, const char* key, int32_t& value) const {
  char text[kNumberBuffer];
  if (!ReadNumberText(section, key, text)) return false;
  ParseDecimalInt(text, value);
  return true;
}

bool ProfileFile::ReadReal(const char* section, const char* key, float& value) const {
  char text[kNumberBuffer];
  if (!ReadNumberText(section, key, text)) return false;
  ParseReal(text, value);
  return true;
}

bool ProfileFile::ReadString(const char* section, const char* key, char* value,
                             std::size_t size) const {
  if (value == nullptr || size == 0) return false;
  // The absent marker is a text no INI value can sensibly be: one character of code 1.
  static constexpr char kAbsent[] = "\x01";
  if (path_[0] == '\0') return false;
  std::unique_ptr<char[]> work(new (std::nothrow) char[size]);
  if (!work) return false;
  platform::ProfileString(path_, section, key, kAbsent, work.get(), size);
  if (std::strcmp(work.get(), kAbsent) == 0) return false;
  std::size_t length = std::strlen(work.get());
  if (length > size - 1) length = size - 1;
  std::memcpy(value, work.get(), length);
  value[length] = '\0';
  return true;
}

}  // namespace qp::config
