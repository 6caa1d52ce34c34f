// The append-only latency log.
#include "diag/latency_log.h"

#include <cstring>
#include <new>

namespace qp::diag {

bool LatencyLog::KeepPath(const char* path) {
  path_[0] = '\0';
  if (path == nullptr) return false;
  std::size_t length = 0;
  while (length <= kMaxPathLength && path[length] != '\0') ++length;
  if (length == 0 || length > kMaxPathLength) return false;
  std::memcpy(path_, path, length);
  path_[length] = '\0';
  return true;
}

bool LatencyLog::Adopt(platform::LogFile file, int32_t capacity) {
  buffer_.reset(new (std::nothrow) char[static_cast<std::size_t>(capacity)]);
  if (!buffer_) {
    platform::CloseLogFile(file);
    return false;
  }
  file_ = file;
  capacity_ = capacity;
  return true;
}

bool LatencyLog::Open(const char* path, int32_t capacity) {
  Close();
  if (capacity <= 0 || capacity > kMaxCapacity || !KeepPath(path)) return false;
  const platform::LogFile file = platform::OpenLogFile(path_);
  return file != platform::kInvalidLogFile && Adopt(file, capacity);
}

platform::TempLogOpen LatencyLog::OpenTemp(const char* name, int32_t capacity) {
  Close();
  if (!KeepPath(name)) return platform::TempLogOpen::kNotAName;
  if (capacity <= 0 || capacity > kMaxCapacity) return platform::TempLogOpen::kCannotOpen;
  platform::LogFile file = platform::kInvalidLogFile;
  const platform::TempLogOpen result = platform::OpenTempLogFile(path_, &file);
  if (result != platform::TempLogOpen::kOpened) return result;
  return Adopt(file, capacity) ? result : platform::TempLogOpen::kCannotOpen;
}

bool LatencyLog::Append(const char* line) {
  if (!buffer_ || line == nullptr) return false;
  // Compared as room left, so a huge line cannot overflow used + n.
  const std::size_t n = std::strlen(line);
  if (n > static_cast<std::size_t>(capacity_ - used_)) Flush();
  if (n > static_cast<std::size_t>(capacity_ - used_)) return false;
  std::memcpy(buffer_.get() + used_, line, n);
  used_ += static_cast<int32_t>(n);
  return true;
}

bool LatencyLog::Flush() {
  if (file_ == platform::kInvalidLogFile) return false;
  if (used_ == 0) return true;
  const std::size_t pending = static_cast<std::size_t>(used_);
  const std::size_t written = platform::WriteLogFile(file_, buffer_.get(), pending);
  if (written == pending) {
    used_ = 0;
    return true;
  }
  if (written > 0 && written < pending) {
    std::memmove(buffer_.get(), buffer_.get() + written, pending - written);
    used_ = static_cast<int32_t>(pending - written);
  }
  return false;
}

bool LatencyLog::Close() {
  Flush();
  if (file_ != platform::kInvalidLogFile) {
    platform::CloseLogFile(file_);
    file_ = platform::kInvalidLogFile;
  }
  buffer_.reset();
  capacity_ = 0;
  used_ = 0;
  return true;
}

}  // namespace qp::diag
