#include "config/number_text.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace qp::config {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The blanks that "%d" and "%f" skip.
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

bool ParseDecimalInt(const char* text, int32_t& value) {
  const char* p = text;
  while (IsSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  if (!IsDigit(*p)) return false;
  // Accumulate the magnitude with saturation; 2^31 is the largest magnitude that matters.
  constexpr int64_t kLimit = int64_t{1} << 31;
  int64_t magnitude = 0;
  for (; IsDigit(*p); ++p) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > kLimit) magnitude = kLimit;
  }
  if (negative) {
    value = static_cast<int32_t>(-magnitude);
  } else {
    value =
        magnitude >= kLimit ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(magnitude);
  }
  return true;
}

bool ParseReal(const char* text, float& value) {
  const char* p = text;
  while (IsSpace(*p)) ++p;
  // Copy just the number so that the runtime's converter cannot read further than "%f" would
  // (no hexadecimal, no "inf"/"nan").
  std::string number;
  auto put = [&](char c) { number.push_back(c); };
  if (*p == '+' || *p == '-') put(*p++);
  std::size_t digits = 0;
  for (; IsDigit(*p); ++p, ++digits) put(*p);
  if (*p == '.') {
    put(*p++);
    for (; IsDigit(*p); ++p, ++digits) put(*p);
  }
  if (digits == 0) return false;
  if (*p == 'e' || *p == 'E') {
    const char* q = p + 1;
    if (*q == '+' || *q == '-') ++q;
    if (IsDigit(*q)) {
      put(*p++);
      if (*p == '+' || *p == '-') put(*p++);
      for (; IsDigit(*p); ++p) put(*p);
    }
  }
  value = std::strtof(number.c_str(), nullptr);
  return true;
}

}  // namespace qp::config
