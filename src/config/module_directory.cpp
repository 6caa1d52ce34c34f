#include "config/module_directory.h"

#include <cstring>

namespace qp::config {
namespace {

bool IsSeparator(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == '/';
#endif
}

}  // namespace

void DirectoryOfPath(const char* path, char* dest, std::size_t size) {
  if (size == 0) return;
  std::size_t length = std::strlen(path);
  std::size_t end = length;
  while (end > 0 && !IsSeparator(path[end - 1])) --end;
#ifdef _WIN32
  // A drive without any directory ("C:x.ax") keeps the drive.
  if (end == 0 && length >= 2 && path[1] == ':') end = 2;
#endif
  if (end > 0 && IsSeparator(path[end - 1])) --end;
  if (end > size - 1) end = size - 1;
  std::memcpy(dest, path, end);
  dest[end] = '\0';
}

void ModuleDirectory(char (&dest)[platform::kMaxPath], platform::ModuleHandle module) {
  char path[platform::kMaxPath];
  if (!platform::ModuleFileName(module, path, sizeof path)) {
    dest[0] = '\0';
    return;
  }
  DirectoryOfPath(path, dest, sizeof dest);
}

}  // namespace qp::config
