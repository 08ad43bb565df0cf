#include "common/folder_tree.h"

#include <windows.h>

#include <cwchar>

#include "common/file_waits.h"
#include "common/long_path.h"
#include "common/unique_handle.h"

namespace brivon {
namespace {

bool IsDots(const wchar_t* name) { return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0; }

// Removes a link to a folder without entering it.
bool RemoveLink(const std::wstring& path) {
  return RemoveFolderWaiting(path) || DeleteFileWaiting(path);
}

// On the long form of the path; the first failure's error goes into firstError.
bool DeleteTree(const std::wstring& folder, DWORD& firstError) {
  auto failed = [&] {
    if (firstError == ERROR_SUCCESS) firstError = ::GetLastError();
    return false;
  };
  bool whole = true;
  {
    WIN32_FIND_DATAW entry;
    UniqueFind listing(::FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!listing) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
      ::SetLastError(error);
      return failed();
    }
    do {
      if (IsDots(entry.cFileName)) continue;
      const std::wstring path = folder + L"\\" + entry.cFileName;
      const bool isFolder = entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
      if (isFolder && (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (!RemoveLink(path)) whole = failed();
      } else if (isFolder) {
        if (!DeleteTree(path, firstError)) whole = false;
      } else {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
          SetAttributesWaiting(path, entry.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
        }
        // One held file keeps the folder, not the files beside it.
        if (!DeleteFileWaiting(path)) whole = failed();
      }
    } while (::FindNextFileW(listing.get(), &entry));
  }  // the listing is closed before the folder goes
  if (!whole) return false;
  const DWORD attributes = ::GetFileAttributesW(folder.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    SetAttributesWaiting(folder, attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  return RemoveFolderWaiting(folder) || failed();
}

}  // namespace

std::vector<std::wstring> ListSubfolders(const std::wstring& folder) {
  std::vector<std::wstring> found;
  WIN32_FIND_DATAW entry;
  UniqueFind listing(::FindFirstFileW((LongPathForm(folder) + L"\\*").c_str(), &entry));
  if (!listing) return found;
  do {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsDots(entry.cFileName)) {
      found.push_back(folder + L"\\" + entry.cFileName);
    }
  } while (::FindNextFileW(listing.get(), &entry));
  return found;
}

bool DeleteFolderTree(const std::wstring& folder) {
  DWORD firstError = ERROR_SUCCESS;
  if (DeleteTree(LongPathForm(folder), firstError)) return true;
  ::SetLastError(firstError);
  return false;
}

}  // namespace brivon
