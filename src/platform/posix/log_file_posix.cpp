// The append-only log file on POSIX systems: O_APPEND puts every write at the current end.
#include "platform/log_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace qp::platform {

LogFile OpenLogFile(const char* path) {
  int fd;
  do {
    fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? kInvalidLogFile : static_cast<LogFile>(fd);
}

// Loops over short writes and interruptions, so a result below `count` means a real failure.
std::size_t WriteLogFile(LogFile file, const void* bytes, std::size_t count) {
  if (file == kInvalidLogFile) return 0;
  const char* next = static_cast<const char*>(bytes);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(static_cast<int>(file), next + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

void CloseLogFile(LogFile file) {
  if (file != kInvalidLogFile) ::close(static_cast<int>(file));
}

}  // namespace qp::platform
