// The append-only latency log: lines are collected in a fixed buffer and written to the file
// only when the buffer is full and at Close, never per line.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/log_file.h"

namespace qp::diag {

// Called by the streaming thread (Append) and, after streaming has stopped, by whichever thread
// shuts the stream down or destroys the owner (Close). No lock of its own: the owner serialises.
class LatencyLog {
 public:
  // Paths are at most 259 characters; buffers at most kMaxCapacity bytes.
  static constexpr int32_t kMaxPathLength = 259;
  static constexpr int32_t kMaxCapacity = 16 * 1024 * 1024;

  LatencyLog() = default;
  ~LatencyLog() { Close(); }
  LatencyLog(const LatencyLog&) = delete;
  LatencyLog& operator=(const LatencyLog&) = delete;

  // Closes first, then opens `path` for appending with a buffer of `capacity` bytes. False
  // (and closed) for a null, empty or over-long path, a capacity outside 1..kMaxCapacity, a
  // file that cannot be opened, or no memory.
  bool Open(const char* path, int32_t capacity);
  // As Open, for the file `name` in the user's temporary folder (platform::OpenTempLogFile:
  // append-only, never a link, a hard-linked file or a device). Path() is then `name`. A
  // capacity outside 1..kMaxCapacity or no memory give kCannotOpen.
  platform::TempLogOpen OpenTemp(const char* name, int32_t capacity);
  // Buffers the line without its NUL, flushing first when it would not fit. False, dropping
  // the line, when closed, when `line` is null, or when it does not fit even after the flush.
  bool Append(const char* line);
  // Writes the pending bytes. False when closed or when the write fails; bytes the system did
  // not take stay pending (those it took are not written twice).
  bool Flush();
  // Flushes, closes the file and releases the buffer. Always true.
  bool Close();

  bool IsOpen() const { return file_ != platform::kInvalidLogFile; }
  int32_t Pending() const { return used_; }
  const char* Path() const { return path_; }

 private:
  // Takes `file` with a buffer of `capacity` bytes; closes it and answers false without memory.
  bool Adopt(platform::LogFile file, int32_t capacity);
  // Copies a path of at most kMaxPathLength characters; false for null, empty or longer.
  bool KeepPath(const char* path);

  platform::LogFile file_ = platform::kInvalidLogFile;
  char path_[kMaxPathLength + 1] = {};
  std::unique_ptr<char[]> buffer_;  // null while closed
  int32_t capacity_ = 0;            // bytes at buffer_
  int32_t used_ = 0;                // pending bytes at the start of buffer_; never above capacity_
};

}  // namespace qp::diag
