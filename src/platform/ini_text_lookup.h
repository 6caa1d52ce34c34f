// A portable INI reader with the lookup rules the configuration relies on:
// case-insensitive names trimmed of blanks and tabs, first section and first key win, values
// trimmed and unquoted, a present empty value is the empty string, comments start with ';'.
#pragma once

#include <cstddef>
#include <cstdio>

namespace qp::platform {

// Searches the open stream from its current position. Memory use is bounded whatever the
// stream holds: very long lines are read through, keeping only what the answer needs.
// Returns true and fills `buffer` (cut to `size` - 1 characters) when the key is found;
// false leaves `buffer` untouched.
bool FindIniValue(std::FILE* stream, const char* section, const char* key, char* buffer,
                  std::size_t size);

}  // namespace qp::platform
