// The formats the stream offers: a heap array of presets, loaded once and read-only afterwards.
#pragma once

#include <cstdint>
#include <memory>

#include "config/preset.h"

namespace qp::config {

class PresetTable {
 public:
  // Replaces the table with `count` zeroed records. False (and an empty table) when the memory
  // cannot be had.
  bool Allocate(int32_t count);
  void Release();

  int32_t Capacity() const { return capacity_; }
  bool Empty() const { return records_ == nullptr; }
  // `index` must lie in [0, Capacity()).
  Preset& operator[](int32_t index) { return records_[index]; }
  const Preset& operator[](int32_t index) const { return records_[index]; }

 private:
  std::unique_ptr<Preset[]> records_;
  int32_t capacity_ = 0;
};

}  // namespace qp::config
