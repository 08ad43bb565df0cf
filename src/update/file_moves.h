// File tests and moves shared by the update installer's stages.
#pragma once

#include <string>
#include <vector>

#include "common/folder_tree.h"  // ListSubfolders, DeleteFolderTree

namespace brivon {

// True when path exists and is not a folder.
bool IsExistingFile(const std::wstring& path);

// IsExistingFile, and the file's long name is the path's last name (letter case aside): a short
// 8.3 name ("FACTUR~1.EXE") reaches another file, which is no namesake.
bool IsExistingFileByLongName(const std::wstring& path);

// Whether anything (file, folder, link) stands at path.
bool IsTaken(const std::wstring& path);

// path itself when nothing stands there, otherwise the first free "<base>_N<extension>" beside it
// (N from 1; a folder's whole name is the base); empty when none of the first 9999 is free.
std::wstring FreeNameBeside(const std::wstring& path, bool isFolder = false);

// Moves source to destination, replacing a file there. A move that keeps failing (the file is held
// by another process) is retried 10 times, 120 ms apart, then done as copy and delete.
// True when the file is at the destination and gone from the source; on false GetLastError() holds
// the error of the last failed call.
bool MoveFileWithRetry(const std::wstring& source, const std::wstring& destination);

inline constexpr int kMoveAttempts = 10;
inline constexpr unsigned long kMoveRetryPauseMs = 120;

}  // namespace brivon
