// Stands in for the browser in the alert window tests: appends its command line, one per line and
// in UTF-8, to the file named by BRIVON_BROWSER_LOG.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain() {
  wchar_t logPath[MAX_PATH] = {};
  DWORD length = ::GetEnvironmentVariableW(L"BRIVON_BROWSER_LOG", logPath, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  const std::wstring line = std::wstring(::GetCommandLineW()) + L"\n";
  std::string utf8(line.size() * 3 + 1, '\0');
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), utf8.data(),
                                          static_cast<int>(utf8.size()), nullptr, nullptr);
  if (bytes <= 0) return 1;
  FILE* log = _wfopen(logPath, L"ab");
  if (!log) return 1;
  std::fwrite(utf8.data(), 1, static_cast<size_t>(bytes), log);
  std::fclose(log);
  return 0;
}
