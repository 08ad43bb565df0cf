// File tests and moves shared by the update installer's stages.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "files/durable_file.h"  // FlushRule
#include "files/file_facts.h"    // IsExistingFile
#include "files/folder_tree.h"   // ListSubfolders, DeleteFolderTree

namespace brivon {

// IsExistingFile, and the file's long name is the path's last name (letter case aside): a short
// 8.3 name ("FACTUR~1.EXE") reaches another file, which is no namesake.
bool IsExistingFileByLongName(const std::wstring& path);

// Whether anything (file, folder, link) stands at path.
bool IsTaken(const std::wstring& path);

// Whether a lookup's answer (GetFileAttributesW's result and, when it failed, its error) proves
// that nothing stands at the path: only "file not found" or "path not found" do. Any other failure
// (a share reconnecting, a refused access) proves nothing, and nothing is put back on it.
bool IsMissingAnswer(DWORD attributes, DWORD error);
bool IsMissing(const std::wstring& path);

using PathTest = std::function<bool(const std::wstring&)>;

// path itself when nothing stands there, otherwise the first free "<base>_N<extension>" beside it
// (N from 1; a folder's whole name is the base); empty when none of the first 9999 is free.
// isTaken tells what stands where (the folder itself unless given).
std::wstring FreeNameBeside(const std::wstring& path, bool isFolder = false, const PathTest& isTaken = {});

// Moves source to destination, never over a file there (ERROR_ALREADY_EXISTS). The source is
// flushed first by rule (FlushFileToDisk): a flush that fails stops the move. A move that meets a
// file held by another process waits for it (files/sharing_waits.h); a source still held then (read,
// not renamed) or on another volume is copied beside the destination, flushed, and takes the name
// by a rename (CopyFileDurably), and the source is deleted where it can be (otherwise it stays for
// the caller's clean-up). True only when the file took the destination's name; on false
// GetLastError() holds the error of the last failed call, and the destination is as it was.
bool MoveFileWithRetry(const std::wstring& source, const std::wstring& destination, FlushRule rule);

// Puts a file of the user's back under its name: a plain rename, with the waits for a held file;
// a copy made beside and renamed in as the last resort. Never over a file: where the name is
// taken, it goes under the first free name beside it. keepSource: copy first, a rename only when
// the copy fails (a full disk). placedAt receives where it went (to, or the free name).
bool PutBackFile(const std::wstring& from, const std::wstring& to, bool keepSource = false,
                 std::wstring* placedAt = nullptr);

// A program's put-back goes onto its own name or nowhere: a free name beside would be recorded
// nowhere, and the program would never come back. NameNotFree: something stands under the name
// or its look-up failed (a share reconnecting); the program stays where it is, and
// GetLastError() tells which.
enum class PutBackResult { Done, NameNotFree, Failed };

// Puts a set-aside or kept program back under its name, only once the name is proved free: a
// plain rename, since its bytes are already on the disk (a running program refuses the write open
// a flush needs), with the waits for a held file; a copy made beside and renamed in as the last
// resort. keepSource: copy first (the updates folder keeps its copy of the previous version).
PutBackResult PutBackProgram(const std::wstring& from, const std::wstring& to, bool keepSource = false);

}  // namespace brivon
