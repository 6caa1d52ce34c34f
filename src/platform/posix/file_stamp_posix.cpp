#include "platform/file_stamp.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace qp::platform {

const int64_t kFileTimeUnitsPerSecond = 1000000000;

bool ReadFileStamp(const char* path, FileStamp& stamp) {
  if (path == nullptr) return false;
  // Opened rather than examined by name, so that permissions count; non-blocking for a FIFO.
  const int file = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (file < 0) return false;
  struct stat info {};
  const bool regular = ::fstat(file, &info) == 0 && S_ISREG(info.st_mode);
  ::close(file);
  if (!regular) return false;
  stamp.size = static_cast<uint64_t>(info.st_size);
  stamp.modified = int64_t{info.st_mtim.tv_sec} * kFileTimeUnitsPerSecond + info.st_mtim.tv_nsec;
  stamp.changed = int64_t{info.st_ctim.tv_sec} * kFileTimeUnitsPerSecond + info.st_ctim.tv_nsec;
  stamp.index = static_cast<uint64_t>(info.st_ino);
  return true;
}

int64_t FileTimeNow() {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return int64_t{now.tv_sec} * kFileTimeUnitsPerSecond + now.tv_nsec;
}

}  // namespace qp::platform
