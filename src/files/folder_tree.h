// Making, walking and removing folder trees (the log folder, the updates folder's leftovers, an
// unpacked package), with long paths, the waits of sharing_waits.h, and never through a link.
#pragma once

#include <windows.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace brivon {

// True when the folder exists on return, created now or before.
bool EnsureDirectoryTree(const std::wstring& folder);

// Immediate sub-folders, full paths as folder + "\" + name, in listing order (links to folders
// included).
std::vector<std::wstring> ListSubfolders(const std::wstring& folder);

// Removes folder and all it holds, clearing read-only attributes. Links (junctions, directory
// symbolic links) are removed themselves; what they point at is never touched. A file that cannot
// be deleted (a program still running from the folder) is skipped and the rest removed; then the
// folder stays and the result is false, GetLastError() holding the first failure's error.
// True also when the folder is already gone.
bool DeleteFolderTree(const std::wstring& folder);

// Whether a file may go, asked once it is open so that no one can write it until it is gone:
// its path below the folder ("sub\name"), its size and its last write time (UTC).
using MayDeleteFile = std::function<bool(const std::wstring& relative, uint64_t size, const FILETIME& lastWrite)>;

inline constexpr unsigned long kNoTimeLimit = ULONG_MAX;

// What DeleteFolderTreeWithin came to.
struct TreeDeletion {
  bool whole = false;      // the folder is gone (or was never there)
  bool outOfTime = false;  // the time ran out first: nothing more was deleted, the rest stays
  size_t kept = 0;         // files mayDelete kept: they stay, and the folders holding them
  unsigned long error = 0; // the first file or folder that could not be deleted (held, in use); 0: none
};

// As DeleteFolderTree, within limitMs in all: the waits for a held file end at the limit, and past
// it nothing more is deleted, so that a folder full of held files holds its caller no longer than
// that. With mayDelete, only the files it allows go; a file written meanwhile is not taken for the
// one that was checked.
TreeDeletion DeleteFolderTreeWithin(const std::wstring& folder, unsigned long limitMs,
                                    const MayDeleteFile& mayDelete = {});

}  // namespace brivon
