#include "update/folder_archive.h"

#include "common/durable_file.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "common/activity_log.h"
#include "update/executable_search.h"
#include "update/powershell_command.h"

namespace brivon {
namespace {

bool ReadArchiveFacts(const std::wstring& path, WIN32_FILE_ATTRIBUTE_DATA* data) {
  return ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, data) &&
         !(data->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

int CopyFilesByPattern(const std::wstring& sourceFolder, const std::wstring& pattern,
                       const std::wstring& destinationFolder, const std::wstring& programFolder) {
  std::wstring search = sourceFolder + L"\\" + pattern;
  WIN32_FIND_DATAW entry = {};
  UniqueFind listing(::FindFirstFileW(search.c_str(), &entry));
  if (!listing) {
    AppendActivityLog(programFolder, kDownloadsLog,
                      "COPIA_PATRON_SIN_RESULTADOS;" + NarrowLow8(pattern) + ";src=" + NarrowLow8(sourceFolder) +
                          ";dest=" + NarrowLow8(destinationFolder));
    return 0;
  }
  int copied = 0;
  do {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    std::wstring source = sourceFolder + L"\\" + entry.cFileName;
    std::wstring destination = destinationFolder + L"\\" + entry.cFileName;
    std::string both = NarrowLow8(source) + ";->;" + NarrowLow8(destination);
    ::SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (::CopyFileW(source.c_str(), destination.c_str(), FALSE)) {
      ++copied;
      AppendActivityLog(programFolder, kDownloadsLog, "COPIA_OK;" + both);
    } else {
      DWORD error = ::GetLastError();
      AppendActivityLog(programFolder, kDownloadsLog, "COPIA_ERROR;" + both + ";err=" + std::to_string(error));
    }
  } while (::FindNextFileW(listing.get(), &entry));
  return copied;
}

ArchiveBefore LookAtArchive(const std::wstring& archivePath) {
  ArchiveBefore before;
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (ReadArchiveFacts(archivePath, &data)) {
    before.existed = true;
    before.written = data.ftLastWriteTime;
  }
  return before;
}

bool ArchiveWasWritten(const std::wstring& archivePath, const ArchiveBefore& before) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!ReadArchiveFacts(archivePath, &data)) return false;
  if (data.nFileSizeHigh == 0 && data.nFileSizeLow == 0) return false;
  // An exit code 0 over an archive left by an earlier run is no proof of this one.
  return !before.existed || ::CompareFileTime(&data.ftLastWriteTime, &before.written) != 0;
}

bool ArchiveFolder(const std::wstring& folder, std::wstring* archivePath, const std::wstring& programFolder,
                   unsigned long timeoutMs) {
  if (archivePath) archivePath->clear();
  std::wstring archive = folder + L".zip";
  ArchiveBefore before = LookAtArchive(archive);
  unsigned long exitCode = 0;
  bool ran = RunHiddenProcess(FolderArchiveCommandLine(PowerShellPathFromEnvironment(), folder, archive), &exitCode,
                              timeoutMs);
  // A PowerShell that ends with 0 yet writes nothing (Wine's stub does) has not archived anything.
  bool ok = ran && exitCode == 0 && ArchiveWasWritten(archive, before);
  AppendActivityLog(programFolder, kDownloadsLog,
                    "ZIP_CARPETA;" + NarrowLow8(folder) + ";->;" + NarrowLow8(archive) +
                        ";estado=" + (ok ? "OK" : "ERROR") + ";ec=" + std::to_string(exitCode));
  // PowerShell wrote it directly; on the disk before anything counts on it.
  if (ok) FlushFileToDisk(archive);
  if (ok && archivePath) *archivePath = archive;
  return ok;
}

void CopyDataFilesAndArchive(const std::wstring& programFolder, const std::wstring& destinationFolder,
                             const char* summaryMarker) {
  if (IsFolderEmpty(destinationFolder)) return;
  int mdb = CopyFilesByPattern(programFolder, L"*.MDB", destinationFolder, programFolder);
  int bd = CopyFilesByPattern(programFolder, L"*.BDORVA", destinationFolder, programFolder);
  AppendActivityLog(programFolder, kDownloadsLog,
                    std::string(summaryMarker) + "dest=" + NarrowLow8(destinationFolder) + ";MDB=" +
                        std::to_string(mdb) + ";BDORVA=" + std::to_string(bd));
  ArchiveFolder(destinationFolder, nullptr, programFolder);
}

}  // namespace brivon
