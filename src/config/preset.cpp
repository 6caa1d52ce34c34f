#include "config/preset.h"

namespace qp::config {
namespace {

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool MapFormatName(const char* fcc, uint32_t& compression, int32_t& bit_count) {
  if (fcc == nullptr) return false;
  for (const synth::PixelFormatName& entry : synth::kPixelFormatNames) {
    int i = 0;
    while (i < 4 && fcc[i] != '\0' && Upper(fcc[i]) == entry.name[i]) ++i;
    // The INI value is read into five characters, so only the first four take part.
    if (i == 4) {
      compression = entry.compression;
      bit_count = entry.bit_count;
      return true;
    }
  }
  return false;
}

}  // namespace qp::config
