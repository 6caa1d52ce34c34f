// Profile lookup on systems without one of their own: the project's INI reader over the file.
#include "platform/profile_lookup.h"

#include <cstdio>
#include <cstring>

#include "platform/ini_text_lookup.h"

namespace qp::platform {

std::size_t ProfileString(const char* path, const char* section, const char* key,
                          const char* default_text, char* buffer, std::size_t size) {
  if (size == 0) return 0;
  std::FILE* file = std::fopen(path, "rb");
  bool found = false;
  if (file != nullptr) {
    found = FindIniValue(file, section, key, buffer, size);
    std::fclose(file);
  }
  if (!found) {
    std::size_t length = default_text ? std::strlen(default_text) : 0;
    if (length > size - 1) length = size - 1;
    if (length != 0) std::memcpy(buffer, default_text, length);
    buffer[length] = '\0';
  }
  return std::strlen(buffer);
}

}  // namespace qp::platform
