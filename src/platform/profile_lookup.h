// The profile (INI) string lookup: the platform's own on Windows, the project's parser elsewhere.
#pragma once

#include <cstddef>

namespace qp::platform {

// Copies the value of `key` in `section` of the INI file at `path` into `buffer`, or
// `default_text` when the file, the section or the key is missing. The result is cut to
// `size` - 1 characters and NUL-terminated; returns its length. `size` 0 writes nothing.
std::size_t ProfileString(const char* path, const char* section, const char* key,
                          const char* default_text, char* buffer, std::size_t size);

}  // namespace qp::platform
