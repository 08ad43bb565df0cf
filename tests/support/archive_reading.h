// Reading ZIP archives back with the real 7za.exe.
#pragma once

#include <string>
#include <vector>

namespace brivon::testing {

// The entries of a ZIP archive as 7-Zip lists them (paths with backslashes, folders included), in
// archive order. Empty, with ok false, when 7-Zip cannot read it.
std::vector<std::wstring> ListArchive(const std::wstring& archivePath, bool* ok = nullptr);

// Extracts a ZIP archive with its folders into destination (made when missing); true on success.
bool ExtractWithSevenZip(const std::wstring& archivePath, const std::wstring& destination);

}  // namespace brivon::testing
