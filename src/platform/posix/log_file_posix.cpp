// The append-only log file on POSIX systems: O_APPEND puts every write at the current end.
#include "platform/log_file.h"
#include "platform/temp_log_name.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

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

TempLogOpen OpenTempLogFile(const char* name, LogFile* file) {
  *file = kInvalidLogFile;
  const std::size_t length = TempLogNameLength(name);
  if (length == 0) return TempLogOpen::kNotAName;

  const char* folder = std::getenv("TMPDIR");
  if (folder == nullptr || folder[0] == '\0') folder = "/tmp";
  const std::string path = std::string(folder) + "/" + name;
  // O_NOFOLLOW refuses a link; O_NONBLOCK keeps a FIFO in its place from blocking the open.
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                0600);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno == ELOOP ? TempLogOpen::kNotPlainFile : TempLogOpen::kCannotOpen;
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1) {
    ::close(fd);
    return TempLogOpen::kNotPlainFile;
  }
  ::fcntl(fd, F_SETFL, O_APPEND);
  *file = static_cast<LogFile>(fd);
  return TempLogOpen::kOpened;
}

}  // namespace qp::platform
