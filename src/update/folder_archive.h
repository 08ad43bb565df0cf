// Copies of the data files into an update's folder, and the ZIP archive of that folder.
#pragma once

#include <windows.h>

#include <string>

#include "update/child_process.h"

namespace brivon {

// Copies every file of sourceFolder matching pattern (system wildcards, any letter case) into
// destinationFolder, replacing files there; clears the source file's attributes first. Logs one
// "COPIA_OK;" or "COPIA_ERROR;" line per file, or "COPIA_PATRON_SIN_RESULTADOS;" when nothing
// matched, to the downloads log. Returns the number of files copied.
int CopyFilesByPattern(const std::wstring& sourceFolder, const std::wstring& pattern,
                       const std::wstring& destinationFolder, const std::wstring& programFolder);

// Packs folder's content (not the folder itself) into folder + ".zip" with PowerShell's
// Compress-Archive, replacing an archive there, and logs a "ZIP_CARPETA;" line. True when PowerShell
// ended with 0 and the archive is there, written by this run and not empty; archivePath receives it
// only then. A PowerShell still running at timeoutMs is ended (ec= kChildTimedOutExitCode).
bool ArchiveFolder(const std::wstring& folder, std::wstring* archivePath, const std::wstring& programFolder,
                   unsigned long timeoutMs = kChildProcessTimeoutMs);

// What follows a previous version's move into its time-stamped folder: copies of the data files
// ("*.MDB", "*.BDORVA") beside it, the summary line (summaryMarker + "dest=...;MDB=n;BDORVA=n")
// and the folder's archive. Nothing when the folder is empty.
void CopyDataFilesAndArchive(const std::wstring& programFolder, const std::wstring& destinationFolder,
                             const char* summaryMarker);

// What stands at an archive's path before a run, to tell afterwards whether the run wrote it.
struct ArchiveBefore {
  bool existed = false;
  FILETIME written = {};
};
ArchiveBefore LookAtArchive(const std::wstring& archivePath);
// True when archivePath holds a non-empty file that was not there before, or was rewritten since.
bool ArchiveWasWritten(const std::wstring& archivePath, const ArchiveBefore& before);

}  // namespace brivon
