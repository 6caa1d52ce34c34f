// A file's size and last-write time: enough to tell that a file read earlier has changed.
#pragma once

#include <cstdint>

namespace qp::platform {

struct FileStamp {
  uint64_t size = 0;
  int64_t modified = 0;  // last write, in the system's finest unit (100 ns or 1 ns)

  bool operator==(const FileStamp&) const = default;
};

// False, *stamp untouched, for a null path, a missing file, a directory or one that cannot be
// examined.
bool ReadFileStamp(const char* path, FileStamp& stamp);

}  // namespace qp::platform
