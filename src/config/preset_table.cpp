#include "config/preset_table.h"

#include <new>

namespace qp::config {

bool PresetTable::Allocate(int32_t count) {
  Release();
  if (count <= 0) return false;
  records_.reset(new (std::nothrow) Preset[static_cast<std::size_t>(count)]());
  if (!records_) return false;
  capacity_ = count;
  return true;
}

void PresetTable::Release() {
  records_.reset();
  capacity_ = 0;
}

}  // namespace qp::config
