#include "startup/housekeeping.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/activity_log.h"
#include "common/durable_file.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "update/archive_listing.h"
#include "update/child_process.h"
#include "update/powershell_command.h"
#include "update/previous_versions.h"

namespace brivon {
namespace {

bool IsLink(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool FileSize(const std::wstring& path, uint64_t& size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

std::wstring NameOf(const std::wstring& path) {
  size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

// Removes a link to a folder without entering it.
bool RemoveLink(const std::wstring& path) {
  return ::RemoveDirectoryW(path.c_str()) || ::DeleteFileW(path.c_str());
}

// The archive's stem without ".zip".
std::wstring Stem(const std::wstring& archivePath) {
  const std::wstring zip = L".zip";
  if (archivePath.size() >= zip.size() && _wcsicmp(archivePath.c_str() + archivePath.size() - zip.size(), zip.c_str()) == 0) {
    return archivePath.substr(0, archivePath.size() - zip.size());
  }
  return archivePath;
}

int ReadTimeoutCount(const std::wstring& path) {
  std::ifstream in{std::filesystem::path(path)};
  int count = 0;
  if (!(in >> count) || count < 0) return 0;
  return count;
}

void Log(const std::wstring& programFolder, const std::string& text) {
  AppendActivityLog(programFolder, kDownloadsLog, text);
}

}  // namespace

ArchivePlacement ChooseArchivePlacement(bool earlierExists, uint64_t earlierSize, uint64_t freshSize) {
  if (!earlierExists) return ArchivePlacement::Take;
  return freshSize >= earlierSize ? ArchivePlacement::Replace : ArchivePlacement::Beside;
}

std::wstring BesideArchiveName(const std::wstring& archivePath, unsigned number) {
  return Stem(archivePath) + L" (" + std::to_wstring(number) + L").zip";
}

std::wstring FreshArchiveName(const std::wstring& archivePath) { return Stem(archivePath) + L".nuevo.zip"; }

bool ArchiveLeftoverFolder(const std::wstring& folder, const std::wstring& archivePath, unsigned long* code,
                           unsigned long timeoutMs, std::wstring* placedAt) {
  if (code) *code = 0;
  const std::wstring fresh = FreshArchiveName(archivePath);
  ::DeleteFileW(fresh.c_str());  // a stale one from an interrupted start

  unsigned long exitCode = 0;
  bool ran = RunHiddenProcess(LeftoverFolderArchiveCommandLine(PowerShellPathFromEnvironment(), folder, fresh),
                              &exitCode, timeoutMs);
  if (code) *code = exitCode;
  uint64_t freshSize = 0;
  if (!ran || exitCode != 0 || !FileSize(fresh, freshSize) || freshSize == 0) {
    ::DeleteFileW(fresh.c_str());
    return false;
  }

  uint64_t earlierSize = 0;
  bool earlierExists = FileSize(archivePath, earlierSize);
  bool placed = false;
  switch (ChooseArchivePlacement(earlierExists, earlierSize, freshSize)) {
    case ArchivePlacement::Take:
    case ArchivePlacement::Replace:
      placed = PublishByRename(fresh, archivePath);
      if (placed && placedAt) *placedAt = archivePath;
      break;
    case ArchivePlacement::Beside:
      for (unsigned number = 2; number < 1000 && !placed; ++number) {
        placed = PublishByRename(fresh, BesideArchiveName(archivePath, number), 0);
        if (placed && placedAt) *placedAt = BesideArchiveName(archivePath, number);
      }
      break;
  }
  if (!placed) ::DeleteFileW(fresh.c_str());
  return placed;
}

bool ArchiveLeftoverFolder(const std::wstring& folder, const std::wstring& archivePath, unsigned long* code) {
  return ArchiveLeftoverFolder(folder, archivePath, code, kChildProcessTimeoutMs);
}

void RunStartupHousekeeping(const std::wstring& programFolder, unsigned long budgetMs) {
  if (programFolder.empty()) return;
  const std::wstring updates = programFolder + kUpdatesFolderName;
  DWORD attributes = ::GetFileAttributesW(updates.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;

  const ULONGLONG start = ::GetTickCount64();
  for (const std::wstring& folder : ListSubfolders(updates)) {
    if (IsLink(::GetFileAttributesW(folder.c_str()))) {
      RemoveLink(folder);  // never archive or delete through a link
      continue;
    }
    const std::wstring countPath = folder + kTimeoutCountSuffix;
    const int timeouts = ReadTimeoutCount(countPath);
    if (timeouts >= kHousekeepingTimeoutsBeforeSkip) {
      Log(programFolder, "ARCHIVADO_OMITIDO;" + NarrowLow8(folder) + ";intentos=" + std::to_string(timeouts));
      continue;
    }
    const ULONGLONG spent = ::GetTickCount64() - start;
    if (spent >= budgetMs) {  // the start goes on; a later one archives the rest
      Log(programFolder, "ARCHIVADO_APLAZADO;" + NarrowLow8(folder));
      continue;
    }
    const unsigned long timeoutMs =
        static_cast<unsigned long>(std::min<ULONGLONG>(kChildProcessTimeoutMs, budgetMs - spent));
    unsigned long code = 0;
    std::wstring archive;
    if (ArchiveLeftoverFolder(folder, updates + L"\\" + NameOf(folder) + L".zip", &code, timeoutMs, &archive)) {
      // Deleted only once 7-Zip's listing shows every file in the archive: PowerShell 5.1 leaves
      // hidden files out and still ends with 0.
      size_t missing = 0;
      if (!CountFilesMissingFromArchive(programFolder, archive, folder, &missing)) {
        Log(programFolder, "ERROR_LISTAR_ARCHIVO;" + NarrowLow8(archive) + ";" + NarrowLow8(folder));
        continue;  // nothing proven: tried again at a later start
      }
      if (missing != 0) {
        // Archiving it again would leave the same files out: it is no longer tried.
        WriteFileDurably(countPath, std::to_string(kHousekeepingTimeoutsBeforeSkip));
        Log(programFolder, "ARCHIVO_INCOMPLETO;" + NarrowLow8(folder) + ";" + NarrowLow8(archive) +
                               ";faltan=" + std::to_string(missing));
        continue;
      }
      DeleteFolderTree(folder);
      ::DeleteFileW(countPath.c_str());
    } else if (code == kChildTimedOutExitCode) {
      WriteFileDurably(countPath, std::to_string(timeouts + 1));
      Log(programFolder, "ARCHIVADO_AGOTADO;" + NarrowLow8(folder) + ";intentos=" + std::to_string(timeouts + 1));
    }
  }
}

}  // namespace brivon
