// The name a path ends in.
#pragma once

#include <string>

namespace brivon {

// The part after the last "\" or "/": the whole path when it has neither.
inline std::wstring NameAfterLastSeparator(const std::wstring& path) {
  const size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

}  // namespace brivon
