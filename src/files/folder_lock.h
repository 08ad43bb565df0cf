// One start at a time per program folder, whatever path it was reached by (a mapped drive and its
// UNC path, an 8.3 name) and from whichever machine: a file inside the folder, opened without
// sharing and deleted on close. Unlike a named mutex it lives where the files are, so two PCs
// starting the program from one network share meet it too. The repair, the housekeeping and the
// update act only while their process holds it.
#pragma once

#include <windows.h>

#include <string>

namespace brivon {

inline constexpr wchar_t kFolderLockName[] = L"\\brivon_en_uso.bloqueo";

enum class FolderLockState {
  Held,           // by this object, or joined: this process already held it
  TakenElsewhere, // another start (this machine or another) holds it
  Unavailable,    // the file could not be made: a folder the user may not write, a full disk
};

class FolderLock {
 public:
  explicit FolderLock(const std::wstring& programFolder);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  FolderLockState state() const { return state_; }
  bool held() const { return state_ == FolderLockState::Held; }
  DWORD error() const { return error_; }  // why it is not held

 private:
  std::wstring key_;
  FolderLockState state_ = FolderLockState::Unavailable;
  DWORD error_ = 0;
};

std::wstring FolderLockPath(const std::wstring& programFolder);

}  // namespace brivon
