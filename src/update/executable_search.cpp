#include "update/executable_search.h"

#include <windows.h>

#include <cwchar>

#include "common/long_path.h"
#include "common/unique_handle.h"
#include "update/package_naming.h"

namespace brivon {
namespace {

bool IsDotEntry(const wchar_t* name) { return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0; }

}  // namespace

void CollectExecutables(const std::wstring& folder, std::vector<std::wstring>& candidates) {
  WIN32_FIND_DATAW entry = {};
  UniqueFind listing(::FindFirstFileW(ForFileSystem(folder + L"\\*").c_str(), &entry));
  if (!listing) return;
  do {
    if (IsDotEntry(entry.cFileName)) continue;
    std::wstring path = folder + L"\\" + entry.cFileName;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      // A link may point anywhere on the disk, or at one of its own parents.
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) CollectExecutables(path, candidates);
    } else if (HasExtension(entry.cFileName, L"exe")) {
      candidates.push_back(std::move(path));
    }
  } while (::FindNextFileW(listing.get(), &entry));
}

bool IsFolderEmpty(const std::wstring& folder) {
  WIN32_FIND_DATAW entry = {};
  UniqueFind listing(::FindFirstFileW(ForFileSystem(folder + L"\\*").c_str(), &entry));
  if (!listing) return true;
  do {
    if (!IsDotEntry(entry.cFileName)) return false;
  } while (::FindNextFileW(listing.get(), &entry));
  return true;
}

}  // namespace brivon
