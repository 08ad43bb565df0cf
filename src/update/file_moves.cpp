#include "update/file_moves.h"

#include <windows.h>

#include <cwchar>

#include "common/durable_file.h"
#include "common/file_waits.h"
#include "common/long_path.h"
#include "common/test_hooks.h"
#include "common/unique_handle.h"

namespace brivon {
namespace {

bool IsDots(const wchar_t* name) { return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0; }

bool IsLink(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Removes a link to a folder without entering it.
bool RemoveLink(const std::wstring& path) {
  return ::RemoveDirectoryW(path.c_str()) || ::DeleteFileW(path.c_str());
}

}  // namespace

bool IsExistingFile(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(ForFileSystem(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsExistingFileByLongName(const std::wstring& path) {
  if (!IsExistingFile(path)) return false;
  WIN32_FIND_DATAW entry;
  UniqueFind found(::FindFirstFileW(path.c_str(), &entry));
  if (!found) return false;
  const size_t cut = path.find_last_of(L"\\/");
  const std::wstring name = cut == std::wstring::npos ? path : path.substr(cut + 1);
  return ::CompareStringOrdinal(entry.cFileName, -1, name.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool IsTaken(const std::wstring& path) {
  if (::GetFileAttributesW(ForFileSystem(path).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  const DWORD error = ::GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;  // unknown: not free
}

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

std::vector<std::wstring> ListSubfolders(const std::wstring& folder) {
  std::vector<std::wstring> found;
  WIN32_FIND_DATAW entry;
  UniqueFind listing(::FindFirstFileW((folder + L"\\*").c_str(), &entry));
  if (!listing) return found;
  do {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsDots(entry.cFileName)) {
      found.push_back(folder + L"\\" + entry.cFileName);
    }
  } while (::FindNextFileW(listing.get(), &entry));
  return found;
}

bool MoveFileWithRetry(const std::wstring& source, const std::wstring& destination) {
  // What 7-Zip has just written may still sit in the cache: on the disk before the rename
  // publishes it (best effort: a file held without write sharing cannot be flushed here).
  FlushFileToDisk(source);
  ::SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (MoveFileWaiting(source, destination, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
    TestTraceFileEvent("rename", source, destination);
    return true;
  }
  // A source that can be read but not renamed (shared for reading only) can still be copied.
  ::SetFileAttributesW(destination.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!WithFileWaits([&] { return ::CopyFileW(source.c_str(), destination.c_str(), FALSE) != FALSE; })) return false;
  FlushFileToDisk(destination);
  return DeleteFileWaiting(source);
}

bool PutBackFile(const std::wstring& from, const std::wstring& to, bool keepSource) {
  auto rename = [&] {
    if (!MoveFileWaiting(from, to, MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) return false;
    TestTraceFileEvent("put-back", from, to);
    return true;
  };
  if (keepSource) return CopyFileDurably(from, to) || rename();
  return rename() || CopyFileDurably(from, to);
}

bool DeleteFolderTree(const std::wstring& folder) {
  {
    WIN32_FIND_DATAW entry;
    UniqueFind listing(::FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!listing) {
      DWORD error = ::GetLastError();
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    do {
      if (IsDots(entry.cFileName)) continue;
      std::wstring path = folder + L"\\" + entry.cFileName;
      bool isFolder = entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
      if (isFolder && IsLink(entry.dwFileAttributes)) {
        if (!RemoveLink(path)) return false;
      } else if (isFolder) {
        if (!DeleteFolderTree(path)) return false;
      } else {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
          ::SetFileAttributesW(path.c_str(), entry.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
        }
        if (!DeleteFileWaiting(path)) return false;
      }
    } while (::FindNextFileW(listing.get(), &entry));
  }  // the listing is closed before the folder goes
  DWORD attributes = ::GetFileAttributesW(folder.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    ::SetFileAttributesW(folder.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  return RemoveFolderWaiting(folder);
}

}  // namespace brivon
