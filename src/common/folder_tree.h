// Walking and removing folder trees (the updates folder's leftovers, an unpacked package), with
// long paths, the waits of file_waits.h, and never through a link.
#pragma once

#include <string>
#include <vector>

namespace brivon {

// Immediate sub-folders, full paths as folder + "\" + name, in listing order (links to folders
// included).
std::vector<std::wstring> ListSubfolders(const std::wstring& folder);

// Removes folder and all it holds, clearing read-only attributes. Links (junctions, directory
// symbolic links) are removed themselves; what they point at is never touched. A file that cannot
// be deleted (a program still running from the folder) is skipped and the rest removed; then the
// folder stays and the result is false, GetLastError() holding the first failure's error.
// True also when the folder is already gone.
bool DeleteFolderTree(const std::wstring& folder);

}  // namespace brivon
