// The options every check takes, qpcheck's and qpcap's alike, parsed once with one set of
// bounds. Each tool accepts the subset it offers and parses its own options around them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "check/check_verdict.h"

namespace qp::check {

// More presets than an INI holds; the session rejects a number its INI lacks.
inline constexpr int64_t kMaxPresetNumber = 999;
// Frame counts of the limits: days of frames at any rate the source offers.
inline constexpr int64_t kMaxFrameCount = 2147483647;

struct CheckOptions {
  std::string install;  // --install: folder of QuorPlemo.ini and its pictures
  std::string ini;      // --ini: an INI file, its pictures beside it
  int32_t preset = -1;  // --preset, as `qpcap formats` numbers them; -1: found from the frames
  std::string csv;      // --csv: per-frame rows
  std::string json;     // --json: the summary as JSON
  std::string plot;     // --plot: a PNG of received frame numbers
  CheckLimits limits;   // --max-missing, --max-repeats
};

// Which options a tool accepts; or-ed.
enum CheckOption : uint32_t {
  kOptionInstall = 1u << 0,
  kOptionIni = 1u << 1,
  kOptionPreset = 1u << 2,
  kOptionCsv = 1u << 3,
  kOptionJson = 1u << 4,
  kOptionPlot = 1u << 5,
  kOptionMaxMissing = 1u << 6,
  kOptionMaxRepeats = 1u << 7,
};

enum class OptionParse {
  kNotMine,  // not a check option this tool accepts: the tool's own, or unknown
  kTaken,    // taken with `value`, which the caller skips
  kBad,      // no value, or one out of bounds; `error` says which
};

// `name` is one argument, `value` the one after it (null at the end of the line).
OptionParse ParseCheckOption(std::string_view name, const char* value, uint32_t accepted,
                             CheckOptions& options, std::string& error);

// A whole decimal number of digits only, 0 to `max`; false for anything else, overflow too.
bool ParseWholeNumber(const char* text, int64_t max, int64_t& value);

}  // namespace qp::check
