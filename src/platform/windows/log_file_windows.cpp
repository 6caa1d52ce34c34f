// The append-only log file on Windows.
#include "platform/log_file.h"
#include "platform/temp_log_name.h"

#include <windows.h>

namespace qp::platform {
namespace {

HANDLE AsHandle(LogFile file) { return reinterpret_cast<HANDLE>(file); }

// One ordinary file: a link would let whoever made it choose where the log goes, and a second
// hard link is the same file under a name elsewhere.
bool IsPlainFile(HANDLE handle) {
  if (GetFileType(handle) != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return false;
  if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))
    return false;
  return info.nNumberOfLinks == 1;
}

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

TempLogOpen OpenTempLogFile(const char* name, LogFile* file) {
  *file = kInvalidLogFile;
  const std::size_t length = TempLogNameLength(name);
  if (length == 0) return TempLogOpen::kNotAName;

  wchar_t path[MAX_PATH + 1];
  const DWORD folder = GetTempPathW(MAX_PATH + 1, path);
  if (folder == 0 || folder + length > MAX_PATH) return TempLogOpen::kCannotOpen;
  // A checked name is ASCII; anything else is taken byte for byte, never through a code page.
  for (std::size_t i = 0; i <= length; ++i)
    path[folder + i] = static_cast<wchar_t>(static_cast<unsigned char>(name[i]));

  // FILE_APPEND_DATA alone: every write lands at the end, whatever else holds the file.
  // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself, which IsPlainFile then refuses.
  HANDLE handle = CreateFileW(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return TempLogOpen::kCannotOpen;
  if (!IsPlainFile(handle)) {
    CloseHandle(handle);
    return TempLogOpen::kNotPlainFile;
  }
  *file = reinterpret_cast<LogFile>(handle);
  return TempLogOpen::kOpened;
}

}  // namespace qp::platform
