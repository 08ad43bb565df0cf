// Reading the activity logs back in tests.
#pragma once

#include <string>
#include <vector>

namespace brivon::testing {

// The texts of a log's lines (after "YYYY-MM-DD HH:MM:SS;"), each line checked for that frame and
// its CR LF. A missing log gives none.
std::vector<std::string> LogTexts(const std::wstring& path);

// Each text up to its first ";": the line's marker.
std::vector<std::string> MarkersOf(const std::vector<std::string>& texts);

}  // namespace brivon::testing
