// Stands in for the browser in the alert window tests: appends its command line, one per line,
// to the file named by BRIVON_BROWSER_LOG.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain() {
  wchar_t logPath[MAX_PATH] = {};
  DWORD length = ::GetEnvironmentVariableW(L"BRIVON_BROWSER_LOG", logPath, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  FILE* log = _wfopen(logPath, L"ab");
  if (!log) return 1;
  std::wstring line = ::GetCommandLineW();
  std::fprintf(log, "%ls\n", line.c_str());
  std::fclose(log);
  return 0;
}
