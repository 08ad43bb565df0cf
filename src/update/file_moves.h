// File tests and moves shared by the update installer's stages.
#pragma once

#include <functional>
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

using PathTest = std::function<bool(const std::wstring&)>;

// path itself when nothing stands there, otherwise the first free "<base>_N<extension>" beside it
// (N from 1; a folder's whole name is the base); empty when none of the first 9999 is free.
// isTaken tells what stands where (the folder itself unless given).
std::wstring FreeNameBeside(const std::wstring& path, bool isFolder = false, const PathTest& isTaken = {});

// Moves source to destination, replacing a file there. A move that meets a file held by another
// process waits for it (common/file_waits.h), then is done as copy and delete.
// True when the file is at the destination and gone from the source; on false GetLastError() holds
// the error of the last failed call.
bool MoveFileWithRetry(const std::wstring& source, const std::wstring& destination);

// Puts a program back under its name, where nothing stands: a plain rename, since its bytes are
// already on the disk (a running program refuses the write open a flush needs), with the waits
// for a held file; a copy as the last resort. keepSource: copy first (the updates folder keeps its
// copy of the previous version), a rename only when the copy fails (a full disk).
bool PutBackFile(const std::wstring& from, const std::wstring& to, bool keepSource = false);

}  // namespace brivon
