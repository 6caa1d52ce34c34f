// The check of a log file's name from the INI file: a plain name in one folder the module
// chooses, never a path, so an INI cannot choose where an application writes.
#pragma once

#include <cstddef>

namespace qp::config {

// Longest accepted name, characters.
constexpr std::size_t kMaxLogFileName = 64;

// True for a name that means one ordinary file in any folder on every system: 1 to
// kMaxLogFileName printable ASCII characters; none of < > : " / \ | ? *; not "." or "..", no
// "..", no leading blank, no trailing dot or blank (Windows drops them, so "CON." is CON); and
// not a device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$, CLOCK$), with or
// without an extension, in any letter case. Non-ASCII is refused because a code page's
// best-fit mapping may turn a character into a separator.
bool IsLogFileName(const char* name);

}  // namespace qp::config
