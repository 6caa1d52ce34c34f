#include "platform/temp_log_name.h"

namespace qp::platform {

std::size_t TempLogNameLength(const char* name) {
  if (name == nullptr) return 0;
  std::size_t length = 0;
  while (length <= kMaxTempLogName && name[length] != '\0') {
    const char c = name[length++];
    if (c == '\\' || c == '/' || c == ':') return 0;
  }
  return length > kMaxTempLogName ? 0 : length;
}

}  // namespace qp::platform
