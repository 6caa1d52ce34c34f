// Profile lookup through the platform's own INI reader.
#include "platform/profile_lookup.h"

#include <windows.h>

#include <climits>

namespace qp::platform {

std::size_t ProfileString(const char* path, const char* section, const char* key,
                          const char* default_text, char* buffer, std::size_t size) {
  if (size == 0) return 0;
  DWORD capacity = size > UINT_MAX ? UINT_MAX : static_cast<DWORD>(size);
  return GetPrivateProfileStringA(section, key, default_text, buffer, capacity, path);
}

}  // namespace qp::platform
