#include "platform/file_stamp.h"

#include <sys/stat.h>

namespace qp::platform {

bool ReadFileStamp(const char* path, FileStamp& stamp) {
  struct stat info {};
  if (path == nullptr || ::stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  stamp.size = static_cast<uint64_t>(info.st_size);
  stamp.modified = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  return true;
}

}  // namespace qp::platform
