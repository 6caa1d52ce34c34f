#include "platform/file_stamp.h"

#include <windows.h>

namespace qp::platform {

bool ReadFileStamp(const char* path, FileStamp& stamp) {
  WIN32_FILE_ATTRIBUTE_DATA info;
  if (path == nullptr || !GetFileAttributesExA(path, GetFileExInfoStandard, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return false;
  stamp.size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  stamp.modified = static_cast<int64_t>((uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                        info.ftLastWriteTime.dwLowDateTime);
  return true;
}

}  // namespace qp::platform
