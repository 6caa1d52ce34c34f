#include "check/check_options.h"

namespace qp::check {
namespace {

struct OptionName {
  const char* name;
  CheckOption option;
};

constexpr OptionName kNames[] = {
    {"--install", kOptionInstall},
    {"--ini", kOptionIni},
    {"--preset", kOptionPreset},
    {"--csv", kOptionCsv},
    {"--json", kOptionJson},
    {"--plot", kOptionPlot},
    {"--max-missing", kOptionMaxMissing},
    {"--max-repeats", kOptionMaxRepeats},
};

}  // namespace

bool ParseWholeNumber(const char* text, int64_t max, int64_t& value) {
  if (text == nullptr || *text == '\0') return false;
  int64_t parsed = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
    const int digit = *c - '0';
    // parsed * 10 + digit <= max, checked without computing it, so no digit string overflows.
    if (digit > max || parsed > (max - digit) / 10) return false;
    parsed = parsed * 10 + digit;
  }
  value = parsed;
  return true;
}

OptionParse ParseCheckOption(std::string_view name, const char* value, uint32_t accepted,
                             CheckOptions& options, std::string& error) {
  const OptionName* known = nullptr;
  for (const OptionName& n : kNames)
    if (name == n.name && (accepted & n.option) != 0) known = &n;
  if (known == nullptr) return OptionParse::kNotMine;
  const CheckOption option = known->option;
  const std::string shown(name);
  if (value == nullptr || *value == '\0') {
    error = shown + " needs a value";
    return OptionParse::kBad;
  }
  std::string* text = nullptr;
  switch (option) {
    case kOptionInstall: text = &options.install; break;
    case kOptionIni: text = &options.ini; break;
    case kOptionCsv: text = &options.csv; break;
    case kOptionJson: text = &options.json; break;
    case kOptionPlot: text = &options.plot; break;
    default: break;
  }
  if (text != nullptr) {
    *text = value;
    return OptionParse::kTaken;
  }
  const int64_t max = option == kOptionPreset ? kMaxPresetNumber : kMaxFrameCount;
  int64_t number = 0;
  if (!ParseWholeNumber(value, max, number)) {
    error = shown + " takes a whole number from 0 to " + std::to_string(max) + ", not \"" + value +
            "\"";
    return OptionParse::kBad;
  }
  if (option == kOptionPreset)
    options.preset = static_cast<int32_t>(number);
  else if (option == kOptionMaxMissing)
    options.limits.max_missing = number;
  else
    options.limits.max_repeats = number;
  return OptionParse::kTaken;
}

}  // namespace qp::check
