#include "files/sharing_waits.h"

#include <algorithm>

#include "common/long_path.h"
#include "common/test_hooks.h"

namespace brivon {
namespace {

// A scanner holds a new file for a few hundred milliseconds to a few seconds: short pauses first,
// so the usual case costs little, then up to a second apart.
constexpr unsigned long kFirstPauseMs = 50;
constexpr unsigned long kLongestPauseMs = 1000;

}  // namespace

bool IsWaitableFileError(DWORD error) {
  switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_ACCESS_DENIED:  // also a file whose deletion is still pending
    case ERROR_USER_MAPPED_FILE:
      return true;
    default:
      return false;
  }
}

unsigned long NextFilePause(DWORD error, int attempt, unsigned long waitedMs, unsigned long limitMs) {
  if (!IsWaitableFileError(error) || waitedMs >= limitMs) return 0;
  unsigned long pause = kFirstPauseMs;
  for (int i = 1; i < attempt && pause < kLongestPauseMs; ++i) pause *= 2;
  pause = std::min(pause, kLongestPauseMs);
  return std::min(pause, limitMs - waitedMs);
}

FileHold ClassifyFileHold(DWORD writeOpenError, DWORD deleteOpenError) {
  const bool writeRefused = writeOpenError == ERROR_SHARING_VIOLATION || writeOpenError == ERROR_USER_MAPPED_FILE;
  if (writeRefused && deleteOpenError == 0) return FileHold::RunningImage;
  if (IsWaitableFileError(writeOpenError) || IsWaitableFileError(deleteOpenError)) return FileHold::Passing;
  return FileHold::Free;
}

FileHold FileHoldOf(const std::wstring& path) {
  const std::wstring name = ForFileSystem(path);
  auto openError = [&](DWORD access) -> DWORD {
    HANDLE file = ::CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return ::GetLastError();
    ::CloseHandle(file);
    return 0;
  };
  return ClassifyFileHold(openError(GENERIC_WRITE), openError(DELETE));
}

const WaitClock& SystemWaitClock() {
  static const WaitClock clock{[] { return static_cast<uint64_t>(::GetTickCount64()); },
                               [](unsigned long ms) { ::Sleep(ms); }};
  return clock;
}

bool WithFileWaits(const std::function<bool()>& operation, const WaitClock& clock) {
  return WithFileWaitsUnless(operation, {}, clock);
}

bool WithFileWaitsUnless(const std::function<bool()>& operation, const std::function<bool(DWORD)>& willNotClear,
                         const WaitClock& clock, unsigned long limitMs) {
  const uint64_t start = clock.nowMs();
  const unsigned long limit = std::min(TestFileWaitLimitMs(kFileWaitLimitMs), limitMs);
  for (int attempt = 1;; ++attempt) {
    if (operation()) return true;
    const DWORD error = ::GetLastError();
    const uint64_t waited = clock.nowMs() - start;
    unsigned long pause =
        NextFilePause(error, attempt, static_cast<unsigned long>(std::min<uint64_t>(waited, limit)), limit);
    if (pause != 0 && willNotClear && willNotClear(error)) pause = 0;
    if (pause == 0) {
      ::SetLastError(error);
      return false;
    }
    clock.sleepMs(pause);
  }
}

bool MoveFileWaiting(const std::wstring& from, const std::wstring& to, DWORD flags) {
  const std::wstring source = ForFileSystem(from), destination = ForFileSystem(to);
  // A running program's image renames (the source), but is never replaced (the destination).
  return WithFileWaitsUnless([&] { return ::MoveFileExW(source.c_str(), destination.c_str(), flags) != FALSE; },
                             [&](DWORD) {
                               return (flags & MOVEFILE_REPLACE_EXISTING) &&
                                      FileHoldOf(destination) == FileHold::RunningImage;
                             });
}

bool DeleteFileWaiting(const std::wstring& path, unsigned long limitMs) {
  const std::wstring file = ForFileSystem(path);
  // A program still running from an old folder: its file goes once it ends, at a later start.
  return WithFileWaitsUnless([&] { return ::DeleteFileW(file.c_str()) != FALSE; },
                             [&](DWORD) { return FileHoldOf(file) == FileHold::RunningImage; }, SystemWaitClock(),
                             limitMs);
}

bool RemoveFolderWaiting(const std::wstring& path, unsigned long limitMs) {
  const std::wstring folder = ForFileSystem(path);
  return WithFileWaitsUnless([&] { return ::RemoveDirectoryW(folder.c_str()) != FALSE; }, {}, SystemWaitClock(),
                             limitMs);
}

bool SetAttributesWaiting(const std::wstring& path, DWORD attributes, unsigned long limitMs) {
  const std::wstring file = ForFileSystem(path);
  return WithFileWaitsUnless([&] { return ::SetFileAttributesW(file.c_str(), attributes) != FALSE; }, {},
                             SystemWaitClock(), limitMs);
}

bool WaitUntilMovable(const std::wstring& path) {
  const std::wstring name = ForFileSystem(path);
  return WithFileWaits([&] {
    HANDLE file = ::CreateFileW(name.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(file);
    return true;
  });
}

}  // namespace brivon
