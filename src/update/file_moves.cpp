#include "update/file_moves.h"

#include <windows.h>

#include <cwchar>

#include "common/long_path.h"
#include "common/path_name.h"
#include "common/test_hooks.h"
#include "common/unique_handle.h"
#include "files/durable_file.h"
#include "files/sharing_waits.h"

namespace brivon {

bool IsExistingFileByLongName(const std::wstring& path) {
  if (!IsExistingFile(path)) return false;
  WIN32_FIND_DATAW entry;
  UniqueFind found(::FindFirstFileW(ForFileSystem(path).c_str(), &entry));
  if (!found) return false;
  const std::wstring name = NameAfterLastSeparator(path);
  return ::CompareStringOrdinal(entry.cFileName, -1, name.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool IsMissingAnswer(DWORD attributes, DWORD error) {
  return attributes == INVALID_FILE_ATTRIBUTES && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND);
}

bool IsMissing(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(ForFileSystem(path).c_str());
  return IsMissingAnswer(attributes, attributes == INVALID_FILE_ATTRIBUTES ? ::GetLastError() : ERROR_SUCCESS);
}

// A name the system cannot answer for (a share that hiccups) is not free either.
bool IsTaken(const std::wstring& path) { return !IsMissing(path); }

std::wstring FreeNameBeside(const std::wstring& path, bool isFolder, const PathTest& isTakenGiven) {
  const PathTest& isTaken = isTakenGiven ? isTakenGiven : PathTest(IsTaken);
  if (!isTaken(path)) return path;
  const size_t separator = path.find_last_of(L"\\/");
  const size_t dot = path.find_last_of(L'.');
  const bool hasExtension =
      !isFolder && dot != std::wstring::npos && (separator == std::wstring::npos || dot > separator + 1);
  const std::wstring base = hasExtension ? path.substr(0, dot) : path;
  const std::wstring extension = hasExtension ? path.substr(dot) : std::wstring();
  for (int n = 1; n < 10000; ++n) {
    std::wstring candidate = base + L"_" + std::to_wstring(n) + extension;
    if (!isTaken(candidate)) return candidate;
  }
  return {};
}

bool MoveFileWithRetry(const std::wstring& source, const std::wstring& destination, FlushRule rule) {
  // What 7-Zip or the download has just written may still sit in the cache: on the disk before the
  // rename publishes it.
  if (!FlushFileToDisk(source, rule)) return false;
  ::SetFileAttributesW(ForFileSystem(source).c_str(), FILE_ATTRIBUTE_NORMAL);
  if (MoveFileWaiting(source, destination, MOVEFILE_WRITE_THROUGH)) {
    TestTraceFileEvent("rename", source, destination);
    return true;
  }
  // A source that can be read but not renamed (shared for reading only), or one on another
  // volume, is copied; never straight onto the name, which a copy cut short would leave half made.
  const DWORD error = ::GetLastError();
  if (!IsWaitableFileError(error) && error != ERROR_NOT_SAME_DEVICE) return false;
  if (!CopyFileDurably(source, destination, 0)) return false;
  DeleteFileWaiting(source);
  ::SetLastError(ERROR_SUCCESS);
  return true;
}

namespace {

// One attempt to place from under name, never over a file there: a rename, or a copy made beside
// and renamed in (which keeps the source), in the order keepSource asks.
bool PlaceWithoutReplacing(const std::wstring& from, const std::wstring& name, bool keepSource) {
  auto rename = [&] {
    if (!MoveFileWaiting(from, name, MOVEFILE_WRITE_THROUGH)) return false;
    TestTraceFileEvent("put-back", from, name);
    return true;
  };
  auto copy = [&] { return CopyFileDurably(from, name, 0); };
  return keepSource ? copy() || rename() : rename() || copy();
}

bool IsNameTakenError(DWORD error) { return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS; }

}  // namespace

bool PutBackFile(const std::wstring& from, const std::wstring& to, bool keepSource, std::wstring* placedAt) {
  // Twice at most: a name taken between the look and the rename is met once more with a free one.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const std::wstring name = FreeNameBeside(to);
    if (name.empty()) {
      ::SetLastError(ERROR_FILE_EXISTS);
      return false;
    }
    if (PlaceWithoutReplacing(from, name, keepSource)) {
      if (placedAt) *placedAt = name;
      return true;
    }
    if (!IsNameTakenError(::GetLastError())) return false;
  }
  return false;
}

PutBackResult PutBackProgram(const std::wstring& from, const std::wstring& to, bool keepSource) {
  const DWORD attributes = ::GetFileAttributesW(ForFileSystem(to).c_str());
  const DWORD lookup = attributes == INVALID_FILE_ATTRIBUTES ? ::GetLastError() : ERROR_SUCCESS;
  if (!IsMissingAnswer(attributes, lookup)) {
    ::SetLastError(lookup != ERROR_SUCCESS ? lookup : static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    return PutBackResult::NameNotFree;
  }
  if (PlaceWithoutReplacing(from, to, keepSource)) return PutBackResult::Done;
  // Taken between the look and the rename: the program stays where it is, as above.
  return IsNameTakenError(::GetLastError()) ? PutBackResult::NameNotFree : PutBackResult::Failed;
}

}  // namespace brivon
