// Searches of an unpacked package: its executables, and whether a folder is left empty.
#pragma once

#include <string>
#include <vector>

namespace brivon {

// Appends the full path of every "*.exe" (any letter case) below folder, depth-first in listing
// order: a subfolder's executables come where the subfolder is met. Folder links (junctions,
// symbolic links) are not followed, so nothing outside the tree is found and no link loops.
void CollectExecutables(const std::wstring& folder, std::vector<std::wstring>& candidates);

// True when folder holds no entry, or cannot be listed (a missing folder counts as empty).
bool IsFolderEmpty(const std::wstring& folder);

}  // namespace brivon
