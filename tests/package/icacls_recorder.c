/* Stands in for icacls.exe in the package test's prefix, whose own icacls changes nothing:
 * appends its command line after the program name, in UTF-8, as one line to the file named
 * by QP_ICACLS_LOG and exits with QP_ICACLS_EXIT (0 when unset). */
#include <stdlib.h>
#include <windows.h>

int main(void) {
  const wchar_t* line = GetCommandLineW();
  /* The program name, quoted or not, and the blanks after it. */
  if (*line == L'"') {
    for (++line; *line && *line != L'"'; ++line) {
    }
    if (*line) ++line;
  } else {
    while (*line && *line != L' ') ++line;
  }
  while (*line == L' ') ++line;

  wchar_t path[MAX_PATH];
  if (GetEnvironmentVariableW(L"QP_ICACLS_LOG", path, MAX_PATH) - 1u < MAX_PATH - 1u) {
    HANDLE log = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, NULL);
    if (log == INVALID_HANDLE_VALUE) return 90;
    char text[4096];
    int bytes = WideCharToMultiByte(CP_UTF8, 0, line, -1, text, sizeof text - 1, NULL, NULL);
    if (bytes <= 0) return 91;
    text[bytes - 1] = '\n';
    DWORD written = 0;
    BOOL ok = WriteFile(log, text, (DWORD)bytes, &written, NULL);
    CloseHandle(log);
    if (!ok) return 92;
  }
  wchar_t code[16];
  if (GetEnvironmentVariableW(L"QP_ICACLS_EXIT", code, 16) - 1u < 15u) return _wtoi(code);
  return 0;
}
