// Bitmap resources (RT_BITMAP) of the host executable.
#include "platform/bitmap_resource.h"

#include <windows.h>

namespace qp::platform {

bool FindHostBitmapResource(const char* name, const uint8_t*& data, std::size_t& size) {
  if (name == nullptr || name[0] == '\0') return false;
  HMODULE host = GetModuleHandleA(nullptr);  // not counted; the executable outlives us
  HRSRC found = FindResourceA(host, name, MAKEINTRESOURCEA(2) /* RT_BITMAP */);
  if (found == nullptr) return false;
  const DWORD length = SizeofResource(host, found);
  HGLOBAL loaded = LoadResource(host, found);
  const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (bytes == nullptr || length == 0) return false;
  data = static_cast<const uint8_t*>(bytes);
  size = length;
  return true;
}

}  // namespace qp::platform
