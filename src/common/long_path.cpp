#include "common/long_path.h"

namespace brivon {
namespace {

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// No part the system would have cleaned up: empty (a doubled separator), "." or "..", and no "/".
bool IsClean(const std::wstring& rest) {
  if (rest.find(L'/') != std::wstring::npos) return false;
  size_t start = 0;
  for (;;) {
    const size_t end = rest.find(L'\\', start);
    const std::wstring part = rest.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    // A trailing separator leaves one empty last part, which the system ignores as well.
    if ((part.empty() && end != std::wstring::npos) || part == L"." || part == L"..") return false;
    if (end == std::wstring::npos) return true;
    start = end + 1;
  }
}

}  // namespace

std::wstring LongPathForm(const std::wstring& path) {
  if (path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) return path;
  if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == L':' && path[2] == L'\\') {
    return IsClean(path.substr(3)) ? L"\\\\?\\" + path : path;
  }
  if (path.size() > 2 && path[0] == L'\\' && path[1] == L'\\') {
    const std::wstring rest = path.substr(2);
    const size_t share = rest.find(L'\\');
    if (share == std::wstring::npos || share == 0) return path;  // a server without a share
    return IsClean(rest) ? L"\\\\?\\UNC\\" + rest : path;
  }
  return path;
}

std::wstring ForFileSystem(const std::wstring& path) {
  constexpr size_t kShortEnough = 248;
  return path.size() < kShortEnough ? path : LongPathForm(path);
}

}  // namespace brivon
