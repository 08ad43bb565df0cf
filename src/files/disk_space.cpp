#include "files/disk_space.h"

#include <windows.h>

#include "common/long_path.h"
#include "common/test_hooks.h"
#include "files/file_facts.h"

namespace brivon {

bool LeavesEnoughSpace(uint64_t freeBytes, uint64_t neededBytes, uint64_t margin) {
  if (neededBytes > freeBytes) return false;
  return freeBytes - neededBytes >= margin;
}

uint64_t WritableBeforeNextCheck(uint64_t freeBytes, uint64_t margin, uint64_t checkEvery) {
  if (freeBytes <= margin) return 0;
  const uint64_t room = freeBytes - margin;
  return room < checkEvery ? room : checkEvery;
}

uint64_t MarginFor(uint64_t freeBeforeStep) {
  const uint64_t half = freeBeforeStep / 2;
  const uint64_t margin = half < kFreeSpaceMarginBytes ? half : kFreeSpaceMarginBytes;
  return margin > kLeastFreeSpaceMarginBytes ? margin : kLeastFreeSpaceMarginBytes;
}

uint64_t FreeSpaceMargin(uint64_t freeBeforeStep) { return TestFreeSpaceMarginBytes(MarginFor(freeBeforeStep)); }

uint64_t FreeSpaceMargin() { return TestFreeSpaceMarginBytes(kFreeSpaceMarginBytes); }

uint64_t FreeSpaceMarginAt(const std::wstring& path) {
  uint64_t freeBytes = 0;
  return ReadFreeBytes(path, &freeBytes) ? FreeSpaceMargin(freeBytes) : FreeSpaceMargin();
}

bool WithinExpansionCap(uint64_t packageBytes, uint64_t unpackedBytes, uint64_t ratio) {
  if (ratio != 0 && packageBytes > UINT64_MAX / ratio) return true;  // the cap is past any size
  return unpackedBytes <= packageBytes * ratio;
}

bool ReadFreeBytes(const std::wstring& path, uint64_t* freeBytes) {
  *freeBytes = 0;
  // The call takes a folder: a file's own folder stands for it.
  std::wstring folder = path;
  if (IsExistingFile(path)) {
    const size_t cut = path.find_last_of(L"\\/");
    if (cut != std::wstring::npos) folder = path.substr(0, cut + 1);
  }
  if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  ULARGE_INTEGER available = {};
  // The long form: from 260 characters on the plain path fails, and every space check with it.
  if (!::GetDiskFreeSpaceExW(ForFileSystem(folder).c_str(), &available, nullptr, nullptr)) return false;
  *freeBytes = available.QuadPart;
  return true;
}

}  // namespace brivon
