#include "files/folder_tree.h"

#include <algorithm>
#include <cwchar>

#include "common/long_path.h"
#include "common/unique_handle.h"
#include "files/file_facts.h"
#include "files/sharing_waits.h"

namespace brivon {
namespace {

bool IsDots(const wchar_t* name) { return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0; }

// One level of a folder chain; true when it is a folder now.
bool MakeOneFolder(const std::wstring& folder) {
  const std::wstring path = ForFileSystem(folder);
  if (::CreateDirectoryW(path.c_str(), nullptr)) return true;
  const DWORD error = ::GetLastError();
  if (IsExistingFolder(folder)) return true;
  ::SetLastError(error);
  return false;
}

// One deletion's walk, on the long form of the paths, within its time.
class TreeDeleter {
 public:
  TreeDeleter(unsigned long limitMs, const MayDeleteFile& mayDelete)
      : limited_(limitMs != kNoTimeLimit), deadline_(::GetTickCount64() + (limited_ ? limitMs : 0)),
        mayDelete_(mayDelete) {}

  // Whether folder is gone.
  bool DeleteTree(const std::wstring& folder, const std::wstring& relative) {
    if (OutOfTime()) return false;
    bool whole = true;
    {
      WIN32_FIND_DATAW entry;
      UniqueFind listing(::FindFirstFileW((folder + L"\\*").c_str(), &entry));
      if (!listing) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || Failed(error);
      }
      do {
        if (IsDots(entry.cFileName)) continue;
        if (OutOfTime()) return false;
        const std::wstring path = folder + L"\\" + entry.cFileName;
        const std::wstring below = relative.empty() ? entry.cFileName : relative + L"\\" + entry.cFileName;
        const bool isFolder = entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        if (isFolder && (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
          // A link to a folder goes itself, never entered.
          if (!RemoveFolderWaiting(path, Wait()) && !DeleteFileWaiting(path, Wait())) whole = Failed(::GetLastError());
        } else if (isFolder) {
          if (!DeleteTree(path, below)) whole = false;
        } else if (!DeleteFile(path, below, entry.dwFileAttributes)) {
          whole = false;  // one held file keeps the folder, not the files beside it
        }
      } while (::FindNextFileW(listing.get(), &entry));
    }  // the listing is closed before the folder goes
    if (!whole || OutOfTime()) return false;
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
      SetAttributesWaiting(folder, attributes & ~FILE_ATTRIBUTE_READONLY, Wait());
    }
    return RemoveFolderWaiting(folder, Wait()) || Failed(::GetLastError());
  }

  TreeDeletion& result() { return result_; }

 private:
  bool DeleteFile(const std::wstring& path, const std::wstring& relative, DWORD attributes) {
    const bool readOnly = attributes & FILE_ATTRIBUTE_READONLY;
    if (readOnly) SetAttributesWaiting(path, attributes & ~FILE_ATTRIBUTE_READONLY, Wait());
    const bool deleted =
        mayDelete_ ? DeleteIfAllowed(path, relative) : DeleteFileWaiting(path, Wait()) || Failed(::GetLastError());
    if (!deleted && readOnly) ::SetFileAttributesW(path.c_str(), attributes);  // what stays is left as it was
    return deleted;
  }

  // Opened without write sharing, the file cannot change between the question and its deletion.
  bool DeleteIfAllowed(const std::wstring& path, const std::wstring& relative) {
    UniqueFile file;
    const bool opened = WithFileWaitsUnless(
        [&] {
          file.reset(::CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
          return static_cast<bool>(file);
        },
        [&](DWORD) { return FileHoldOf(path) == FileHold::RunningImage; }, SystemWaitClock(), Wait());
    if (!opened) {
      const DWORD error = ::GetLastError();
      // Gone meanwhile is as good as deleted.
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || Failed(error);
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(file.get(), &info)) return Failed(::GetLastError());
    const uint64_t size = FileSizeFromHalves(info.nFileSizeHigh, info.nFileSizeLow);
    if (!mayDelete_(relative, size, info.ftLastWriteTime)) {
      ++result_.kept;
      return false;
    }
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (!::SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof(disposition))) {
      return Failed(::GetLastError());  // a running program's image: it goes at a later start
    }
    return true;  // gone as the handle closes
  }

  bool Failed(DWORD error) {
    if (result_.error == 0) result_.error = error == 0 ? ERROR_GEN_FAILURE : error;
    return false;
  }

  bool OutOfTime() {
    if (limited_ && ::GetTickCount64() >= deadline_) result_.outOfTime = true;
    return result_.outOfTime;
  }

  // How long the next held file may be waited for.
  unsigned long Wait() const {
    if (!limited_) return kFileWaitLimitMs;
    const ULONGLONG now = ::GetTickCount64();
    return now >= deadline_ ? 0 : static_cast<unsigned long>(std::min<ULONGLONG>(deadline_ - now, kFileWaitLimitMs));
  }

  const bool limited_;
  const ULONGLONG deadline_;
  const MayDeleteFile& mayDelete_;
  TreeDeletion result_;
};

}  // namespace

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
  const TreeDeletion deletion = DeleteFolderTreeWithin(folder, kNoTimeLimit);
  if (deletion.whole) return true;
  ::SetLastError(deletion.error);
  return false;
}

TreeDeletion DeleteFolderTreeWithin(const std::wstring& folder, unsigned long limitMs, const MayDeleteFile& mayDelete) {
  TreeDeleter deleter(limitMs, mayDelete);
  deleter.result().whole = deleter.DeleteTree(LongPathForm(folder), L"");
  return deleter.result();
}

}  // namespace brivon
