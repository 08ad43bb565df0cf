// Where replaced executables go: a time-stamped folder in "\actualizaciones", or an archive in
// "\versiones".
#pragma once

#include <windows.h>

#include <string>

#include "archive/child_process.h"

namespace brivon {

inline constexpr wchar_t kUpdatesFolderName[] = L"\\actualizaciones";
inline constexpr wchar_t kVersionsFolderName[] = L"\\versiones";

// Moves file into programFolder\actualizaciones\<time stamp>\<stem>.exe (the updates folder made
// when missing; the time-stamped folder always new: "_N" follows a stamp whose folder or archive
// is taken). On success destination and destinationFolder receive the new path and the folder; both
// are emptied first. A failed move logs "ERROR_MOVER_A_ACTUALIZACIONES_CARPETA;".
bool MovePreviousVersion(const std::wstring& programFolder, const std::wstring& file, const std::wstring& stem,
                         std::wstring* destination, std::wstring* destinationFolder);
bool MovePreviousVersionAt(const std::wstring& programFolder, const std::wstring& file, const std::wstring& stem,
                           std::wstring* destination, std::wstring* destinationFolder, const SYSTEMTIME& now);
// As MovePreviousVersion, under the given file name.
bool MoveIntoUpdatesFolderAt(const std::wstring& programFolder, const std::wstring& file, const std::wstring& name,
                             std::wstring* destination, std::wstring* destinationFolder, const SYSTEMTIME& now);
// A file a package replaces, under its own name, at the current local time.
bool MoveReplacedFile(const std::wstring& programFolder, const std::wstring& file, std::wstring* destination,
                      std::wstring* destinationFolder);

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
