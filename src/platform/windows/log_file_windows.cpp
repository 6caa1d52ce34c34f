// The append-only log file on Windows.
#include "platform/log_file.h"

#include <windows.h>

namespace qp::platform {
namespace {
HANDLE AsHandle(LogFile file) { return reinterpret_cast<HANDLE>(file); }
}  // namespace

// kInvalidLogFile (-1) is INVALID_HANDLE_VALUE.
static_assert(sizeof(HANDLE) == sizeof(LogFile), "LogFile must carry a HANDLE");

LogFile OpenLogFile(const char* path) {
  HANDLE handle = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return kInvalidLogFile;
  // With a high-part pointer, INVALID_SET_FILE_POINTER is also a valid low part of a file
  // beyond 4 GiB; only the last error tells a failure.
  LONG high = 0;
  SetLastError(NO_ERROR);
  DWORD low = SetFilePointer(handle, 0, &high, FILE_END);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
    CloseHandle(handle);
    return kInvalidLogFile;
  }
  return reinterpret_cast<LogFile>(handle);
}

std::size_t WriteLogFile(LogFile file, const void* bytes, std::size_t count) {
  if (file == kInvalidLogFile) return 0;
  const DWORD request = count > MAXDWORD ? MAXDWORD : static_cast<DWORD>(count);
  DWORD written = 0;
  if (!WriteFile(AsHandle(file), bytes, request, &written, nullptr)) return 0;
  return written;
}

void CloseLogFile(LogFile file) {
  if (file != kInvalidLogFile) CloseHandle(AsHandle(file));
}

}  // namespace qp::platform
