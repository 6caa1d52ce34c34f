#include "tool_status.h"

#include <cstdarg>
#include <cstdio>

#include "check/check_ending.h"

namespace qpcap {

int ExitCodeOf(qp::check::CheckOutcome outcome) {
  switch (outcome) {
    case qp::check::CheckOutcome::kWithinLimits: return kExitOk;
    case qp::check::CheckOutcome::kLimitExceeded: return kExitCheckLimits;
    case qp::check::CheckOutcome::kOutputFailed: return kExitOutput;
    case qp::check::CheckOutcome::kNoStatusLine: return kExitCheckInput;
  }
  return kExitFailure;
}

int Fail(int code, const char* format, ...) {
  std::fputs("qpcap: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  return code;
}

std::string HresultText(HRESULT hr) {
  char text[300];
  int length = std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  char system_text[256];
  DWORD got = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             DWORD(hr), 0, system_text, sizeof system_text, nullptr);
  while (got > 0 && (system_text[got - 1] == '\n' || system_text[got - 1] == '\r' ||
                     system_text[got - 1] == '.' || system_text[got - 1] == ' '))
    system_text[--got] = '\0';
  if (got > 0) std::snprintf(text + length, sizeof text - length, " (%s)", system_text);
  return text;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string result(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), result.data(), size, nullptr,
                      nullptr);
  return result;
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring result(size, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), result.data(), size);
  return result;
}

}  // namespace qpcap
