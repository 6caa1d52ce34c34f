// Reading numbers from INI text the way C's "%d" and "%f" conversions read them, with results
// that do not depend on the C runtime: leading blanks skipped, reading stops at the first
// character that cannot continue the number.
#pragma once

#include <cstdint>

namespace qp::config {

// Decimal integer with optional sign. A value beyond 32 bits saturates at INT32_MIN/INT32_MAX.
// False when no digit was found; `value` is then untouched.
bool ParseDecimalInt(const char* text, int32_t& value);

// Decimal or exponent notation ("29.97", "-1e3", ".5"). False when no digit was found.
bool ParseReal(const char* text, float& value);

}  // namespace qp::config
