// An append-only log file: opened for writing at its end, shared with other writers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qp::platform {

// A HANDLE on Windows, a file descriptor elsewhere; kInvalidLogFile when not open.
using LogFile = std::intptr_t;
constexpr LogFile kInvalidLogFile = -1;

// Opens `path` for writing, creating it when missing and keeping its contents, positioned at
// the end; other writers may have it open too. kInvalidLogFile on any failure (nothing stays
// open then).
LogFile OpenLogFile(const char* path);

// Writes `count` bytes; returns how many were written (fewer, possibly 0, on failure).
std::size_t WriteLogFile(LogFile file, const void* bytes, std::size_t count);

void CloseLogFile(LogFile file);

}  // namespace qp::platform
