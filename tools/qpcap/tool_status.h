// Exit codes and error messages of the capture tool; scripts branch on these codes.
#pragma once

#include <windows.h>

#include <string>

namespace qp::check {
enum class CheckOutcome;
}  // namespace qp::check

namespace qpcap {

enum ExitCode : int {
  kExitOk = 0,
  kExitFailure = 1,      // The platform or the stream failed (message says where).
  kExitUsage = 2,        // Bad command line.
  kExitNoDevice = 3,     // No video capture device matches.
  kExitNoFormat = 4,     // The format index or size is not offered, or no format list.
  kExitOutput = 5,       // The output file cannot be written.
  kExitStreamFault = 6,  // measure: no frames, or the time stamps are not continuous.
  kExitCheckLimits = 7,  // check: more frames missing or repeated than allowed.
  kExitCheckInput = 8,   // check: the recording or the install folder cannot be read.
};

// check and measure --check: the exit code of how the check ended.
int ExitCodeOf(qp::check::CheckOutcome outcome);

// Prints "qpcap: <message>" to stderr and returns code, so callers can `return Fail(...)`.
int Fail(int code, const char* format, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)));

// "0x80070491" plus the system's text for it when it has one.
std::string HresultText(HRESULT hr);

std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& text);  // From the ANSI code page, as argv arrives.

}  // namespace qpcap
