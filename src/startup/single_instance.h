// One running instance per program folder: a second start in the same folder (a double click,
// a task started twice) would race the first over the same files.
#pragma once

#include <string>

#include "common/unique_handle.h"

namespace brivon {

// "<space>\Brivon-<hex>" from the folder, letter case ignored (a name may not hold "\" after the
// namespace). The global namespace reaches every signed-in user: on a terminal server several
// users share one program folder.
std::wstring SingleInstanceMutexName(const std::wstring& programFolder, const wchar_t* space = L"Global");

// Owns the folder's mutex while alive. held() is false when another instance has it.
class SingleInstanceGuard {
 public:
  explicit SingleInstanceGuard(const std::wstring& programFolder);
  bool held() const { return held_; }

 private:
  UniqueHandle mutex_;
  bool held_ = false;
};

}  // namespace brivon
