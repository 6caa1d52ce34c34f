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

enum class TempLogOpen {
  kOpened,
  kNotAName,      // empty, over-long, or holding a separator or a drive's colon
  kCannotOpen,    // no temporary folder, or the system refused the file
  kNotPlainFile,  // a link, a file with other hard links, a folder or a device
};

// Opens (creating when missing) the file `name` in the user's temporary folder for appending
// only, refusing anything but one ordinary file of that name there: never follows a link. On
// anything but kOpened, *file is kInvalidLogFile and nothing stays open. `name` should have
// passed config::IsLogFileName; this only refuses what would leave the folder.
TempLogOpen OpenTempLogFile(const char* name, LogFile* file);

}  // namespace qp::platform
