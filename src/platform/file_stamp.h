// A file's size, times and identity: enough to tell that a file read earlier has changed, and
// whether its change time can be trusted to tell it.
#pragma once

#include <cstdint>

namespace qp::platform {

struct FileStamp {
  uint64_t size = 0;
  int64_t modified = 0;  // last write, in kFileTimeUnitsPerSecond; anyone may set it back
  // Last change of contents, times or attributes, set by the system alone. File systems
  // that keep none give 0 or the last write again (FAT).
  int64_t changed = 0;
  uint64_t index = 0;  // which file of its volume this is: a file moved over it has another

  bool operator==(const FileStamp&) const = default;
};

// 10^7 (100 ns) on Windows, 10^9 elsewhere.
extern const int64_t kFileTimeUnitsPerSecond;

// False, *stamp untouched, for a null path, a missing file, a directory or other non-regular
// file, or one that this process cannot open for reading (permissions, or on Windows another
// handle that shares no reading). Never blocks on a pipe.
bool ReadFileStamp(const char* path, FileStamp& stamp);

// Now, on the clock and in the unit file times are kept in.
int64_t FileTimeNow();

}  // namespace qp::platform
