#include "checkin/file_version.h"

#include <windows.h>

#include <optional>
#include <vector>

#include "checkin/version_resource.h"

namespace brivon {

std::string FormatFileVersion(uint32_t versionMs, uint32_t versionLs) {
  return std::to_string(HIWORD(versionMs)) + "." + std::to_string(LOWORD(versionMs)) + "." +
         std::to_string(HIWORD(versionLs)) + "." + std::to_string(LOWORD(versionLs));
}

std::string ReadFileVersion(const std::wstring& path) {
  // Nearly every image is the plain case, read here from its few bytes; the system reads any other.
  if (const std::optional<FixedFileVersion> fixed = ReadFixedFileVersion(path)) {
    return FormatFileVersion(fixed->ms, fixed->ls);
  }
  DWORD ignored = 0;
  DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return kVersionUnavailable;
  std::vector<BYTE> block(size, 0);
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return kVersionUnavailable;

  void* value = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(block.data(), L"\\", &value, &length) || value == nullptr) return kVersionUnavailable;
  // A resource that announces less than the whole structure would have us read past its data.
  if (length < sizeof(VS_FIXEDFILEINFO)) return kVersionUnavailable;
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  return FormatFileVersion(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
}

}  // namespace brivon
