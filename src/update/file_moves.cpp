#include "update/file_moves.h"

#include <windows.h>

namespace brivon {

bool IsExistingFile(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool MoveFileWithRetry(const std::wstring& source, const std::wstring& destination) {
  // A file just written by 7-Zip or held for a moment by a scanner frees up soon: retry first.
  for (int attempt = 0; attempt < kMoveAttempts; ++attempt) {
    ::SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (::MoveFileExW(source.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
      return true;
    }
    ::Sleep(kMoveRetryPauseMs);
  }
  // A source that can be read but not renamed (shared for reading only) can still be copied.
  ::SetFileAttributesW(destination.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!::CopyFileW(source.c_str(), destination.c_str(), FALSE)) return false;
  ::SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_NORMAL);
  return ::DeleteFileW(source.c_str()) != FALSE;
}

}  // namespace brivon
