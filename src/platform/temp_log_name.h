// The one check both systems' OpenTempLogFile make of a name before joining it to the folder.
#pragma once

#include <cstddef>

namespace qp::platform {

// Longest name joined to the temporary folder, characters.
constexpr std::size_t kMaxTempLogName = 255;

// The length of `name` when it cannot leave the folder it is joined to (1 to kMaxTempLogName
// characters, none of \ / :); 0 otherwise, null included.
std::size_t TempLogNameLength(const char* name);

}  // namespace qp::platform
