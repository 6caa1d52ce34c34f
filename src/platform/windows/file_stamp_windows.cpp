#include "platform/file_stamp.h"

#include <windows.h>
#include <winternl.h>

namespace qp::platform {
namespace {

int64_t FromFileTime(const FILETIME& time) {
  return static_cast<int64_t>((uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
}

}  // namespace

const int64_t kFileTimeUnitsPerSecond = 10000000;

// Only queries the system answers from the open file: the volume's serial number (as
// GetFileInformationByHandle gives it) costs about a millisecond under Wine.
bool ReadFileStamp(const char* path, FileStamp& stamp) {
  if (path == nullptr) return false;
  // Opened as a reader would, sharing everything: a handle that shares no reading keeps the
  // picture from being read, and a directory is not opened without backup semantics.
  HANDLE file =
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  FILE_STANDARD_INFO standard;
  FILE_BASIC_INFO basic;
  FILE_INTERNAL_INFORMATION internal;
  IO_STATUS_BLOCK io;
  const bool known =
      GetFileType(file) == FILE_TYPE_DISK &&
      GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard) &&
      !standard.Directory &&
      GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) &&
      NT_SUCCESS(
          NtQueryInformationFile(file, &io, &internal, sizeof internal, FileInternalInformation));
  CloseHandle(file);
  if (!known) return false;
  stamp.size = static_cast<uint64_t>(standard.EndOfFile.QuadPart);
  stamp.modified = basic.LastWriteTime.QuadPart;
  stamp.changed = basic.ChangeTime.QuadPart;
  stamp.index = static_cast<uint64_t>(internal.IndexNumber.QuadPart);
  return true;
}

int64_t FileTimeNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return FromFileTime(now);
}

}  // namespace qp::platform
