// Where replaced executables go: a time-stamped folder in "\actualizaciones", or an archive in
// "\versiones".
#pragma once

#include <windows.h>

#include <string>

#include "files/durable_file.h"
#include "sevenzip/child_process.h"

namespace brivon {

inline constexpr wchar_t kUpdatesFolderName[] = L"\\actualizaciones";
inline constexpr wchar_t kVersionsFolderName[] = L"\\versiones";

// Where a file goes in the updates folder: a new time-stamped folder of
// programFolder\actualizaciones (the updates folder made when missing; "_N" follows a stamp whose
// folder or archive is taken), made now, and the file's path in it under name. Made before the file
// leaves its place, so that the update's record names where it goes first. False when the folder
// could not be made.
struct UpdateFolderPlace {
  std::wstring folder;
  std::wstring path;
};
bool MakeUpdateFolderPlace(const std::wstring& programFolder, const std::wstring& name, UpdateFolderPlace* place,
                           const SYSTEMTIME& now);
bool MakeUpdateFolderPlace(const std::wstring& programFolder, const std::wstring& name, UpdateFolderPlace* place);

// Moves file to place.path (MoveFileWithRetry, the flush by rule). A failed move logs
// "ERROR_MOVER_A_ACTUALIZACIONES_CARPETA;" and leaves the made folder empty.
bool MoveIntoUpdateFolder(const std::wstring& programFolder, const std::wstring& file,
                          const UpdateFolderPlace& place, FlushRule rule);

// Both steps for a set-aside program, file, under <stem>.exe, with nothing to record between
// them. On success destination and destinationFolder receive the new path and the folder; both
// are emptied first.
bool MovePreviousVersionAt(const std::wstring& programFolder, const std::wstring& file, const std::wstring& stem,
                           std::wstring* destination, std::wstring* destinationFolder, const SYSTEMTIME& now);

// Moves file into programFolder\versiones\<time stamp>_brivon.exe, packs it into the .zip of the
// same name with 7-Zip and deletes the unpacked copy. The copy is deleted only when 7-Zip's listing
// of the archive shows the file whole; otherwise (7-Zip missing, failed or hung past timeoutMs) the
// file goes back to its place and the result is false. archivePath receives the archive on success
// only. exitCode, for the caller's log, receives 7-Zip's exit code (2 without 7za.exe, the system
// error when it could not start, kChildTimedOutExitCode when it was ended), 0 when it was not run.
bool ArchiveToVersionsFolder(const std::wstring& programFolder, const std::wstring& file, std::wstring* archivePath,
                             unsigned long* exitCode = nullptr, unsigned long timeoutMs = kChildProcessTimeoutMs);
bool ArchiveToVersionsFolderAt(const std::wstring& programFolder, const std::wstring& file,
                               std::wstring* archivePath, const SYSTEMTIME& now, unsigned long* exitCode = nullptr,
                               unsigned long timeoutMs = kChildProcessTimeoutMs);

}  // namespace brivon
