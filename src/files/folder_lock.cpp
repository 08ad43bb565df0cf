#include "files/folder_lock.h"

#include <cwctype>
#include <map>
#include <mutex>
#include <utility>

#include "common/long_path.h"
#include "common/unique_handle.h"

namespace brivon {
namespace {

// The folders this process holds, and how many holders share each: the start holds its folder
// for its whole run, and the update worker, the repair and the housekeeping join that hold.
struct Hold {
  int holders = 0;
  UniqueFile file;  // closed, and so deleted, by the last holder
};
std::mutex heldMutex;
std::map<std::wstring, Hold>& HeldFolders() {
  static std::map<std::wstring, Hold> held;
  return held;
}

std::wstring KeyOf(const std::wstring& folder) {
  std::wstring key = folder;
  for (wchar_t& c : key) c = static_cast<wchar_t>(std::towupper(c));
  return key;
}

}  // namespace

std::wstring FolderLockPath(const std::wstring& programFolder) { return programFolder + kFolderLockName; }

FolderLock::FolderLock(const std::wstring& programFolder) : key_(KeyOf(programFolder)) {
  std::lock_guard<std::mutex> guard(heldMutex);
  auto held = HeldFolders().find(key_);
  if (held != HeldFolders().end()) {
    ++held->second.holders;
    state_ = FolderLockState::Held;
    return;
  }
  // No sharing at all: any other open of the file, from any process or machine, is refused.
  // A file a power cut left behind is simply opened again.
  UniqueFile file(::CreateFileW(ForFileSystem(FolderLockPath(programFolder)).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                               nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  if (!file) {
    error_ = ::GetLastError();
    state_ = error_ == ERROR_SHARING_VIOLATION || error_ == ERROR_LOCK_VIOLATION ? FolderLockState::TakenElsewhere
                                                                                 : FolderLockState::Unavailable;
    return;
  }
  Hold& hold = HeldFolders()[key_];
  hold.holders = 1;
  hold.file = std::move(file);
  state_ = FolderLockState::Held;
}

FolderLock::~FolderLock() {
  if (state_ != FolderLockState::Held) return;
  std::lock_guard<std::mutex> guard(heldMutex);
  auto held = HeldFolders().find(key_);
  if (held == HeldFolders().end()) return;
  if (--held->second.holders == 0) HeldFolders().erase(held);
}

}  // namespace brivon
