#include "common/long_path.h"

namespace brivon {
namespace {

// Room for what a caller appends to a folder it was given ("\<name>.escribiendo").
constexpr size_t kShortEnough = 248;

bool HasDotStep(std::wstring_view path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(L'\\', start);
    if (end == std::wstring_view::npos) end = path.size();
    const std::wstring_view step = path.substr(start, end - start);
    if (step == L"." || step == L"..") return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

std::wstring ForFileSystem(std::wstring_view path) {
  if (path.size() < kShortEnough || path.find(L'/') != std::wstring_view::npos || HasDotStep(path)) {
    return std::wstring(path);
  }
  if (path.rfind(L"\\\\?\\", 0) == 0) return std::wstring(path);
  const bool drive = path.size() >= 3 && path[1] == L':' && path[2] == L'\\' &&
                     ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
  if (drive) return L"\\\\?\\" + std::wstring(path);
  if (path.rfind(L"\\\\", 0) == 0 && path.size() > 2 && path[2] != L'.' && path[2] != L'?') {
    return L"\\\\?\\UNC\\" + std::wstring(path.substr(2));
  }
  return std::wstring(path);
}

}  // namespace brivon
