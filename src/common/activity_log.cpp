#include "common/activity_log.h"

#include <windows.h>
#include <share.h>

#include <atomic>
#include <cstdio>

#include "common/long_path.h"
#include "common/test_hooks.h"
#include "common/unique_handle.h"

namespace brivon {
namespace {

// Where the writers' turn is taken: a byte no log ever reaches (offset 2^62).
constexpr DWORD kTurnLockOffsetHigh = 0x40000000;
// A writer holds the turn for one write. One that holds it longer is stuck (another machine's
// start on a share that stalled): the line then goes in without the turn rather than never, since
// a log write may fall between two steps of an update.
constexpr ULONGLONG kTurnWaitMs = 5 * 1000;
constexpr DWORD kTurnRetryMs = 20;
// Once a wait ran out, the writer that holds the turn is taken as stuck: this run's later lines
// try once and go in without it, instead of waiting five seconds each.
std::atomic<bool> turnStuck{false};

bool TakeTurn(HANDLE file, OVERLAPPED& turn) {
  const ULONGLONG start = ::GetTickCount64();
  const ULONGLONG waitMs = turnStuck ? 0 : kTurnWaitMs;
  for (;;) {
    if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &turn)) {
      turnStuck = false;
      return true;
    }
    if (::GetTickCount64() - start >= waitMs) {
      turnStuck = true;
      return false;
    }
    ::Sleep(kTurnRetryMs);
  }
}

// What a text-mode stream would store: each LF as CR LF.
std::string WithCrLf(std::string_view line) {
  std::string stored;
  stored.reserve(line.size() + 2);
  for (char c : line) {
    if (c == '\n') stored += '\r';
    stored += c;
  }
  return stored;
}

// Opened for appending only, so that the system puts each write at the end of the file as it
// stands then: two writers (the update thread and the close bar, a second machine's start on a
// share) never write over each other's line, as a seek to the end followed by a write can. The
// lock on one byte far past any log's end makes writers take turns where appending alone is not
// atomic (a network redirector, Wine); it lasts one write and goes with the handle. Shared with
// every other reader and writer.
bool AppendToTextFile(const std::wstring& path, std::string_view line) {
  UniqueFile file(::CreateFileW(ForFileSystem(path).c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  OVERLAPPED turn = {};
  turn.OffsetHigh = kTurnLockOffsetHigh;
  const bool locked = TakeTurn(file.get(), turn);
  const std::string stored = WithCrLf(line);
  DWORD written = 0;
  const bool whole = ::WriteFile(file.get(), stored.data(), static_cast<DWORD>(stored.size()), &written, nullptr) &&
                     written == stored.size();
  if (locked) ::UnlockFileEx(file.get(), 0, 1, 0, &turn);
  return whole;
}

// One level of a folder chain; true when it is a folder now.
bool MakeOneFolder(const std::wstring& folder) {
  const std::wstring path = ForFileSystem(folder);
  if (::CreateDirectoryW(path.c_str(), nullptr)) return true;
  const DWORD error = ::GetLastError();
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  ::SetLastError(error);
  return false;
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
  // Usually there already; a failure shows at the open.
  ::CreateDirectoryW(ForFileSystem(folder).c_str(), nullptr);
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
  const std::wstring file = ForFileSystem(path);
  ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!AppendToTextFile(path, FormatLogLine(when, text)) && ::GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
    return;
  }
  ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
}

bool EnsureDirectoryTree(const std::wstring& folder) {
  if (folder.empty()) return false;
  const DWORD attributes = ::GetFileAttributesW(ForFileSystem(folder).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // Each missing level from the top down, on the long form where the path needs it (the shell's
  // own helper stops at 248 characters).
  const size_t cut = folder.find_last_of(L"\\/");
  if (cut != std::wstring::npos && cut > 0 && folder[cut - 1] != L':' && folder[cut - 1] != L'\\') {
    if (!EnsureDirectoryTree(folder.substr(0, cut))) return false;
  }
  return MakeOneFolder(folder);
}

bool WriteTextFile(const std::wstring& path, std::string_view text, unsigned long* error) {
  FILE* file = ::_wfsopen(ForFileSystem(path).c_str(), L"w", _SH_DENYNO);
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

std::string TextAsWritten(std::string_view text) {
  std::string written;
  written.reserve(text.size());
  for (const char c : text) {
    if (c == '\n') written += '\r';
    written += c;
  }
  return written;
}

}  // namespace brivon
