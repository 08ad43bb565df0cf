#include "sevenzip/zip_archive.h"

#include <windows.h>

#include <cwchar>

#include "common/long_path.h"
#include "files/file_facts.h"
#include "files/sharing_waits.h"
#include "sevenzip/archive_listing.h"
#include "sevenzip/seven_zip_command.h"

namespace brivon {
namespace {

// Removes a file standing at path; a folder there is never removed (ERROR_ALREADY_EXISTS).
bool ClearArchivePath(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(ForFileSystem(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    ::SetLastError(ERROR_ALREADY_EXISTS);
    return false;
  }
  ::SetFileAttributesW(ForFileSystem(path).c_str(), FILE_ATTRIBUTE_NORMAL);
  return DeleteFileWaiting(path);
}

bool Zip(const std::wstring& programFolder, const std::wstring& commandLine, const std::wstring& archivePath,
         unsigned long* code, unsigned long timeoutMs, bool* started) {
  unsigned long exitCode = kArchiveToolMissing;
  bool ran = false;
  auto report = [&](bool result) {
    if (code) *code = exitCode;
    if (started) *started = ran;
    return result;
  };
  if (!IsArchiveToolPresent(programFolder)) return report(false);
  if (!ClearArchivePath(archivePath)) {
    exitCode = ::GetLastError();
    return report(false);
  }
  ran = RunHiddenProcess(commandLine, &exitCode, timeoutMs, programFolder);
  // 1 is 7-Zip's warning: some file could not be read and is not in the archive.
  if (ran && exitCode == 0 && FileSizeOf(archivePath).value_or(0) != 0) return report(true);
  DeleteFileWaiting(archivePath);
  return report(false);
}

}  // namespace

bool IsArchiveToolPresent(const std::wstring& programFolder) { return IsExistingFile(ArchiveToolPath(programFolder)); }

std::wstring FreshArchiveName(const std::wstring& archivePath) {
  const std::wstring zip = L".zip";
  const bool endsInZip = archivePath.size() >= zip.size() &&
                         _wcsicmp(archivePath.c_str() + archivePath.size() - zip.size(), zip.c_str()) == 0;
  return (endsInZip ? archivePath.substr(0, archivePath.size() - zip.size()) : archivePath) + L".nuevo.zip";
}

bool ZipFolderContents(const std::wstring& programFolder, const std::wstring& folder, const std::wstring& archivePath,
                       unsigned long* code, unsigned long timeoutMs, bool* started) {
  // A folder that cannot be listed whole is left to 7-Zip as it stands, with its threads.
  FileStamps files;
  const bool listed = ReadFolderStamps(folder, files, nullptr);
  std::vector<uint64_t> sizes;
  for (const auto& file : files) sizes.push_back(file.second.size);
  const bool threads = !listed || ArchiveThreadsPayOff(sizes);
  return Zip(programFolder, FolderArchiveCommandLine(ArchiveToolPath(programFolder), folder, archivePath, threads),
             archivePath, code, timeoutMs, started);
}

bool ZipOneFile(const std::wstring& programFolder, const std::wstring& file, const std::wstring& archivePath,
                unsigned long* code, unsigned long timeoutMs) {
  return Zip(programFolder, FileArchiveCommandLine(ArchiveToolPath(programFolder), file, archivePath), archivePath,
             code, timeoutMs, nullptr);
}

}  // namespace brivon
