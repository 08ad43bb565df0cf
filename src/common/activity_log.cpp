#include "common/activity_log.h"

#include <windows.h>
#include <share.h>
#include <shlobj.h>

#include <cstdio>

#include "common/test_hooks.h"

namespace brivon {
namespace {

// Append, text mode, shared with every other reader and writer.
bool AppendToTextFile(const std::wstring& path, std::string_view line) {
  FILE* file = ::_wfsopen(path.c_str(), L"a", _SH_DENYNO);
  if (!file) return false;
  bool ok = std::fwrite(line.data(), 1, line.size(), file) == line.size();
  return std::fclose(file) == 0 && ok;
}

LocalTime Now() {
  SYSTEMTIME st;
  ::GetLocalTime(&st);
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

}  // namespace

std::string FormatLogLine(const LocalTime& when, std::string_view text) {
  char stamp[64];
  std::snprintf(stamp, sizeof(stamp), "%04u-%02u-%02u %02u:%02u:%02u", when.year, when.month, when.day, when.hour,
                when.minute, when.second);
  std::string line(stamp);
  line += ';';
  // The text carries addresses and names from the service and the package: a line break in it
  // would split the line, or forge a whole new one, and a zero byte would end it before its CR LF
  // for any writer that takes it as a C string.
  for (char c : text) line += (c == '\r' || c == '\n' || c == '\0') ? ' ' : c;
  line += '\n';
  return line;
}

std::wstring LogFolder(const std::wstring& programFolder) { return programFolder + kLogFolderName; }

void AppendActivityLog(const std::wstring& programFolder, const std::wstring& fileName, std::string_view text) {
  std::wstring folder = LogFolder(programFolder);
  ::CreateDirectoryW(folder.c_str(), nullptr);  // usually there already; a failure shows at the open
  AppendToTextFile(folder + L"\\" + fileName, FormatLogLine(Now(), text));
  TestKillPoint(text.substr(0, text.find(';')));  // the test build can end here, the line written
}

void AppendCheckinLog(const std::wstring& programFolder, std::string_view text) {
  std::wstring folder = LogFolder(programFolder);
  EnsureDirectoryTree(folder);
  std::wstring path = folder + L"\\" + kCheckinLog;

  // The same clock as the other logs: the C runtime's time_t is 32 bits in the 32-bit build and
  // would stop in January 2038.
  const LocalTime when = Now();

  // The log stays read-only + system between check-ins; clear that for the write.
  ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  FILE* file = ::_wfsopen(path.c_str(), L"a", _SH_DENYNO);
  if (!file) return;  // attributes stay normal
  std::string line = FormatLogLine(when, text);
  std::fwrite(line.data(), 1, line.size(), file);
  std::fclose(file);
  ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
}

bool EnsureDirectoryTree(const std::wstring& folder) {
  DWORD attributes = ::GetFileAttributesW(folder.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  if (::CreateDirectoryW(folder.c_str(), nullptr)) return true;
  DWORD error = ::GetLastError();
  if (error != ERROR_PATH_NOT_FOUND) {
    // "Already exists" may be a file of that name: that is no folder.
    if (error != ERROR_ALREADY_EXISTS) return false;
    attributes = ::GetFileAttributesW(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  }
  int result = ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  return result == ERROR_SUCCESS || result == ERROR_FILE_EXISTS || result == ERROR_ALREADY_EXISTS;
}

bool WriteTextFile(const std::wstring& path, std::string_view text, unsigned long* error) {
  FILE* file = ::_wfsopen(path.c_str(), L"w", _SH_DENYNO);
  if (!file) {
    if (error) *error = ::GetLastError();
    return false;
  }
  bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  ok = std::fclose(file) == 0 && ok;
  if (!ok && error) {
    *error = ::GetLastError();
    if (*error == 0) *error = ERROR_WRITE_FAULT;
  }
  return ok;
}

}  // namespace brivon
