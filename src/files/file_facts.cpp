#include "files/file_facts.h"

#include "common/long_path.h"

namespace brivon {

bool IsExistingFile(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(ForFileSystem(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsExistingFolder(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(ForFileSystem(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::optional<uint64_t> FileSizeOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(ForFileSystem(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return std::nullopt;
  }
  return FileSizeFromHalves(data.nFileSizeHigh, data.nFileSizeLow);
}

}  // namespace brivon
