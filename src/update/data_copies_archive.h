// Copies of the data files into an update's folder, and the ZIP archive of that folder.
#pragma once

#include <cstdint>
#include <string>

#include "common/unique_handle.h"
#include "files/disk_space.h"
#include "sevenzip/child_process.h"

namespace brivon {

// Opens a data file for the copy's read, sharing reading, writing and deleting with whoever holds
// it: the database engine keeps an open data file open for reading and writing, and the system's
// copy, which shares less, fails there with 32 on Windows (Wine's copy shares everything, so only
// this open shows it). Empty on failure, GetLastError() telling why.
UniqueFile OpenDataFileForCopy(const std::wstring& source);

// Copies source to destination (replacing a file there) by reading its bytes with read, write and
// delete sharing: the database engine keeps an open data file open for reading and writing, which
// the system's copy refuses. The copy is made beside its name (StagingNameOf), flushed to the disk
// and renamed in: the name holds the whole copy or nothing of it. It has no hidden or read-only
// attribute; the source and its attributes are left as they are. On false GetLastError() tells why
// and no partial copy is left.
bool CopySharedFile(const std::wstring& source, const std::wstring& destination);

// Copies every file of sourceFolder matching pattern (system wildcards, any letter case) into
// destinationFolder with CopySharedFile. Logs one "COPIA_OK;" or "COPIA_ERROR;" line per file, or
// "COPIA_PATRON_SIN_RESULTADOS;" when nothing matched, to the downloads log. Returns the number of
// files copied.
int CopyFilesByPattern(const std::wstring& sourceFolder, const std::wstring& pattern,
                       const std::wstring& destinationFolder, const std::wstring& programFolder);

// The total size of the files of folder matching pattern.
uint64_t PatternBytes(const std::wstring& folder, const std::wstring& pattern);

// Packs folder's content (not the folder itself) into folder + ".zip" with 7-Zip, replacing an
// archive there, and logs a "ZIP_CARPETA;" line with 7-Zip's exit code (";err=" follows when the
// archive was made but could not take its name). True when the archive is in place; archivePath
// receives it only then.
bool ArchiveFolder(const std::wstring& folder, std::wstring* archivePath, const std::wstring& programFolder,
                   unsigned long timeoutMs = kChildProcessTimeoutMs);

// What follows a previous version's move into its time-stamped folder: copies of the data files
// ("*.MDB", "*.BDORVA") beside it, the summary line (summaryMarker + "dest=...;MDB=n;BDORVA=n")
// and the folder's archive. Nothing when the folder is empty. The copies are left out, with a
// "COPIA_SIN_ESPACIO;" line, when they and their archive would leave less than margin free (0: the
// margin in force for the drive as it is before the copies, FreeSpaceMargin).
void CopyDataFilesAndArchive(const std::wstring& programFolder, const std::wstring& destinationFolder,
                             const char* summaryMarker, uint64_t margin = 0);

}  // namespace brivon
