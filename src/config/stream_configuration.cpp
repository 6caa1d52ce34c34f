#include "config/stream_configuration.h"

#include <cstdio>
#include <cstring>

#include "config/module_directory.h"
#include "config/profile_file.h"

namespace qp::config {
namespace {

constexpr char kMainSection[] = "MAIN";
constexpr char kDefaultsSection[] = "PRESET_DEF";

// A value of 1000 or more is a frame time in 100 ns; below, it is a rate in frames per second.
// 0, an empty value or a word keeps the previous frame time.
void ReadFrameTime(const ProfileFile& file, const char* section, int64_t& frame_time) {
  int32_t whole = 0;
  file.ReadInt(section, "frame_time", whole);
  if (whole >= 1000) {
    frame_time = whole;
    return;
  }
  float rate = 0.0f;
  file.ReadReal(section, "frame_time", rate);
  if (rate == 0.0f) return;
  double ticks = 10000000.0 / static_cast<double>(rate);
  // Rates too small to give a representable frame time (or NaN) leave it as it was.
  if (!(ticks > -9.2e18 && ticks < 9.2e18)) return;
  frame_time = static_cast<int64_t>(ticks);
}

void ReadFormat(const ProfileFile& file, const char* section, Preset& preset) {
  char fcc[5];
  if (file.ReadString(section, "fcc", fcc, sizeof fcc))
    MapFormatName(fcc, preset.compression, preset.bit_count);
}

// The keys a preset section shares with PRESET_DEF, in the order they are read.
void ReadPictureKeys(const ProfileFile& file, const char* section, Preset& preset) {
  file.ReadInt(section, "w", preset.w);
  file.ReadInt(section, "h", preset.h);
  file.ReadInt(section, "interlaced", preset.interlaced);
  file.ReadString(section, "bmp", preset.bmp, sizeof preset.bmp);
  file.ReadString(section, "font", preset.font, sizeof preset.font);
  file.ReadInt(section, "scroll_x", preset.scroll_x);
  file.ReadInt(section, "scroll_y", preset.scroll_y);
}

int32_t RaiseOdd(int32_t value) {
  // INT32_MAX is odd; raising it would overflow, and the size clamp takes it down anyway.
  return (value % 2 != 0 && value != INT32_MAX) ? value + 1 : value;
}

// Odd scroll steps move away from zero, so a field is always a whole 4:2:2 pixel pair away.
int32_t EvenAwayFromZero(int32_t value) {
  if (value % 2 == 0) return value;
  if (value > 0) return value == INT32_MAX ? value - 1 : value + 1;
  return value == INT32_MIN + 1 ? value + 1 : value - 1;
}

int32_t ClampDimension(int32_t value, int32_t minimum) {
  if (value < minimum) return minimum;
  if (value > kMaxFrameDimension) return kMaxFrameDimension;
  return value;
}

void Normalise(Preset& preset) {
  preset.w = ClampDimension(RaiseOdd(preset.w), kMinFrameWidth);
  preset.h = ClampDimension(RaiseOdd(preset.h), kMinFrameHeight);
  preset.scroll_x = EvenAwayFromZero(preset.scroll_x);
  preset.scroll_y = EvenAwayFromZero(preset.scroll_y);
  if (preset.interlaced < 0 || preset.interlaced > 2) preset.interlaced = 0;
}

Preset DefaultPreset(const ProfileFile& file) {
  Preset preset{};
  preset.w = 320;
  preset.h = 240;
  preset.compression = kFormatRgb;
  preset.bit_count = 32;
  preset.frame_time = 333667;  // 29.97 frames per second
  ReadPictureKeys(file, kDefaultsSection, preset);
  ReadFormat(file, kDefaultsSection, preset);
  ReadFrameTime(file, kDefaultsSection, preset.frame_time);
  return preset;
}

}  // namespace

bool StreamConfiguration::LoadConfiguration(platform::ModuleHandle module) {
  char directory[platform::kMaxPath];
  ModuleDirectory(directory, module);
  char path[platform::kMaxPath];
  int length =
      std::snprintf(path, sizeof path, "%s%c%s", directory, platform::kPathSeparator, kIniFileName);
  // A path cut short would name some other file: read none and keep every default.
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof path) path[0] = '\0';
  return LoadConfigurationFrom(path);
}

void StreamConfiguration::ReadLatencyLog(const ProfileFile& file) {
  latency_log[0] = '\0';
  latency_log_refused = false;
  char name[260] = {};
  // Missing or empty: off.
  if (!file.ReadString(kMainSection, "latency_log", name, sizeof name) || name[0] == '\0') return;
  if (!IsLogFileName(name)) {
    latency_log_refused = true;
    return;
  }
  std::memcpy(latency_log, name, std::strlen(name) + 1);  // checked: within kMaxLogFileName
}

bool StreamConfiguration::LoadConfigurationFrom(const char* ini_path) {
  const ProfileFile file(ini_path);

  use_video_info_header2 = 0;
  auto_clock = 0;
  buff_num = 2;
  preset_num = 1;
  file.ReadInt(kMainSection, "buff_num", buff_num);
  // The trailing blank is historical; names are compared trimmed, so it finds preset_num.
  file.ReadInt(kMainSection, "preset_num ", preset_num);
  file.ReadInt(kMainSection, "use_video_info_header2", use_video_info_header2);
  file.ReadInt(kMainSection, "auto_clock", auto_clock);
  ReadLatencyLog(file);
  if (buff_num <= 0) buff_num = 1;
  if (preset_num <= 0) preset_num = 1;
  if (preset_num > kMaxPresetSections) preset_num = kMaxPresetSections;

  const Preset defaults = DefaultPreset(file);

  if (!presets.Allocate(preset_num)) {
    preset_num = 0;
    return false;
  }

  int32_t filled = 0;
  for (int32_t n = 1; n <= preset_num; ++n) {
    char section[24];
    std::snprintf(section, sizeof section, "PRESET_%02d", static_cast<int>(n));
    int32_t enable = 0;
    file.ReadInt(section, "enable", enable);
    if (enable != 1) continue;
    Preset& preset = presets[filled++];
    preset = defaults;
    preset.enable = 1;
    ReadPictureKeys(file, section, preset);
    file.ReadString(section, "comment", preset.comment, sizeof preset.comment);
    ReadFormat(file, section, preset);
    ReadFrameTime(file, section, preset.frame_time);
  }

  preset_num = filled;
  if (preset_num == 0) {
    preset_num = 1;
    presets[0] = defaults;
  }
  for (int32_t i = 0; i < preset_num; ++i) Normalise(presets[i]);
  return true;
}

}  // namespace qp::config
