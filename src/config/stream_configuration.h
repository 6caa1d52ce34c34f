// The stream's settings and presets, read once from QuorPlemo.ini beside the module.
// Owned by the stream pin, which loads it from its constructor under its own lock; afterwards
// it is only read (by the streaming thread and the pin's format interfaces).
#pragma once

#include <cstdint>

#include "config/log_file_name.h"
#include "config/preset.h"
#include "config/preset_table.h"
#include "platform/module_location.h"

namespace qp::config {

class ProfileFile;

constexpr char kIniFileName[] = "QuorPlemo.ini";

// Absurd preset counts would probe sections and allocate without bound: at most this many
// sections are probed (PRESET_01 ... PRESET_999).
constexpr int32_t kMaxPresetSections = 999;

// Frame sizes beyond this are clamped, so that every later size computation stays far from
// 32-bit overflow.
constexpr int32_t kMaxFrameDimension = 16384;
constexpr int32_t kMinFrameWidth = 80;
constexpr int32_t kMinFrameHeight = 60;

class StreamConfiguration {
 public:
  // Reads <directory of the module>/QuorPlemo.ini. False only when the table's memory cannot
  // be had; `preset_num` is then 0 and there is no table.
  bool LoadConfiguration(platform::ModuleHandle module = platform::OwnModule());
  // The same from an INI file at `ini_path`; a missing file gives every default.
  bool LoadConfigurationFrom(const char* ini_path);

  int32_t buff_num = 2;
  int32_t preset_num = 1;
  int32_t use_video_info_header2 = 0;
  int32_t auto_clock = 0;
  // [MAIN] latency_log: the latency log's file name in the user's temporary folder; empty
  // when off. A value that is not a plain file name (IsLogFileName) leaves it empty and sets
  // latency_log_refused, so the stream can say why no log appears.
  char latency_log[kMaxLogFileName + 1] = {};
  bool latency_log_refused = false;
  PresetTable presets;  // `preset_num` records after a successful load

 private:
  void ReadLatencyLog(const ProfileFile& file);
};

}  // namespace qp::config
