#include "startup/housekeeping.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "archive/archive_listing.h"
#include "archive/seven_zip_command.h"
#include "common/activity_log.h"
#include "common/durable_file.h"
#include "common/file_waits.h"
#include "common/test_hooks.h"
#include "common/text.h"
#include "update/previous_versions.h"  // kUpdatesFolderName

namespace brivon {
namespace {

using FileSizes = std::map<std::wstring, uint64_t>;

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
bool RemoveLink(const std::wstring& path) { return RemoveFolderWaiting(path) || DeleteFileWaiting(path); }

// The archive's stem without ".zip".
std::wstring Stem(const std::wstring& archivePath) {
  const std::wstring zip = L".zip";
  if (archivePath.size() >= zip.size() &&
      _wcsicmp(archivePath.c_str() + archivePath.size() - zip.size(), zip.c_str()) == 0) {
    return archivePath.substr(0, archivePath.size() - zip.size());
  }
  return archivePath;
}

int ReadStrikes(const std::wstring& path) {
  std::ifstream in{std::filesystem::path(path)};
  int count = 0;
  if (!(in >> count) || count < 0) return 0;
  return count;
}

// One start's walk over the leftover folders, within its budget.
class Housekeeping {
 public:
  Housekeeping(const std::wstring& programFolder, unsigned long budgetMs, unsigned long folderLimitMs)
      : program_(programFolder), updates_(programFolder + kUpdatesFolderName), budgetMs_(budgetMs),
        folderLimitMs_(folderLimitMs), start_(::GetTickCount64()) {}

  void Run(const std::wstring& folder) {
    const std::wstring strikesPath = folder + kStrikeCountSuffix;
    const int strikes = ReadStrikes(strikesPath);
    if (strikes >= kHousekeepingStrikesBeforeSkip) {
      Log("ARCHIVADO_OMITIDO;" + NarrowLow8(folder) + ";intentos=" + std::to_string(strikes));
      return;
    }
    if (Left() == 0) {  // the start goes on; a later one archives the rest
      Log("ARCHIVADO_APLAZADO;" + NarrowLow8(folder));
      return;
    }
    const std::wstring archive = updates_ + L"\\" + NameOf(folder) + L".zip";
    FileSizes files = FolderFiles(folder);
    // An archive the update or an earlier start made may hold the folder whole already (its
    // deletion was cut short, or a program still ran from it): then it is not made again.
    FileSizes stored;
    uint64_t size = 0;
    const bool alreadyArchived = files.empty() || (FileSize(archive, size) &&
                                                   ListArchiveFiles(program_, archive, stored, nullptr, Left()) &&
                                                   CountMissingFiles(files, stored) == 0);
    if (!alreadyArchived && !ArchiveAndCheck(folder, archive, strikesPath, strikes)) return;

    if (!DeleteFolderTree(folder)) {
      // A file in use stays with its folder for a later start, which finds it in the archive.
      Log("CARPETA_NO_ELIMINADA;" + NarrowLow8(folder) + ";err=" + std::to_string(::GetLastError()));
      return;
    }
    DeleteFileWaiting(strikesPath);
  }

 private:
  // What is left of the budget for the next child, at most the folder's own limit.
  unsigned long Left() const {
    const ULONGLONG spent = ::GetTickCount64() - start_;
    if (spent >= budgetMs_) return 0;
    return static_cast<unsigned long>(std::min<ULONGLONG>(folderLimitMs_, budgetMs_ - spent));
  }

  // Archives folder and proves the archive holds it whole. False when it is to stay.
  bool ArchiveAndCheck(const std::wstring& folder, const std::wstring& archive, const std::wstring& strikesPath,
                       int strikes) {
    unsigned long code = 0;
    unsigned long given = Left();
    std::wstring placed;
    if (!ArchiveLeftoverFolder(program_, folder, archive, &code, given, &placed)) {
      Failed("ARCHIVADO_ERROR;" + NarrowLow8(folder), folder, code, given, strikesPath, strikes);
      return false;
    }
    // Deleted only once 7-Zip's listing shows every file in the archive.
    given = Left();
    FileSizes stored;
    if (given == 0 || !ListArchiveFiles(program_, placed, stored, &code, given)) {
      if (given == 0) code = kChildTimedOutExitCode;
      Failed("ERROR_LISTAR_ARCHIVO;" + NarrowLow8(placed) + ";" + NarrowLow8(folder), folder, code, given,
             strikesPath, strikes);
      return false;
    }
    const size_t missing = CountMissingFiles(FolderFiles(folder), stored);
    if (missing != 0) {
      // Archiving it again would leave the same files out: it is no longer tried.
      WriteFileDurably(strikesPath, std::to_string(kHousekeepingStrikesBeforeSkip));
      Log("ARCHIVO_INCOMPLETO;" + NarrowLow8(folder) + ";" + NarrowLow8(placed) + ";faltan=" +
          std::to_string(missing));
      return false;
    }
    return true;
  }

  void Failed(const std::string& line, const std::wstring& folder, unsigned long code, unsigned long given,
              const std::wstring& strikesPath, int strikes) {
    const LeftoverFailure failure = ClassifyLeftoverFailure(code, given, folderLimitMs_);
    if (failure == LeftoverFailure::CutByBudget) {
      Log("ARCHIVADO_APLAZADO;" + NarrowLow8(folder));
      return;
    }
    const std::string count = ";intentos=" + std::to_string(strikes + 1);
    WriteFileDurably(strikesPath, std::to_string(strikes + 1));
    if (failure == LeftoverFailure::TimedOut) {
      Log("ARCHIVADO_AGOTADO;" + NarrowLow8(folder) + count);
    } else {
      Log(line + ";ec=" + std::to_string(code) + count);
    }
  }

  void Log(const std::string& text) const { AppendActivityLog(program_, kDownloadsLog, text); }

  const std::wstring program_;
  const std::wstring updates_;
  const unsigned long budgetMs_;
  const unsigned long folderLimitMs_;
  const ULONGLONG start_;
};

}  // namespace

ArchivePlacement ChooseArchivePlacement(bool earlierExists, uint64_t earlierSize, uint64_t freshSize) {
  if (!earlierExists) return ArchivePlacement::Take;
  return freshSize >= earlierSize ? ArchivePlacement::Replace : ArchivePlacement::Beside;
}

std::wstring BesideArchiveName(const std::wstring& archivePath, unsigned number) {
  return Stem(archivePath) + L" (" + std::to_wstring(number) + L").zip";
}

LeftoverFailure ClassifyLeftoverFailure(unsigned long code, unsigned long givenMs, unsigned long folderLimitMs) {
  if (code != kChildTimedOutExitCode) return LeftoverFailure::Failed;
  return givenMs < folderLimitMs ? LeftoverFailure::CutByBudget : LeftoverFailure::TimedOut;
}

bool ArchiveLeftoverFolder(const std::wstring& programFolder, const std::wstring& folder,
                           const std::wstring& archivePath, unsigned long* code, unsigned long timeoutMs,
                           std::wstring* placedAt) {
  const std::wstring fresh = FreshArchiveName(archivePath);
  if (!ZipFolderContents(programFolder, folder, fresh, code, timeoutMs)) return false;
  TestKillPoint("ARCHIVO_NUEVO_ESCRITO");
  uint64_t freshSize = 0, earlierSize = 0;
  FileSize(fresh, freshSize);
  const bool earlierExists = FileSize(archivePath, earlierSize);
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
  if (!placed) {
    if (code) *code = ::GetLastError();
    DeleteFileWaiting(fresh);
  }
  return placed;
}

void RunStartupHousekeeping(const std::wstring& programFolder, unsigned long budgetMs, unsigned long folderLimitMs) {
  if (programFolder.empty()) return;
  const std::wstring updates = programFolder + kUpdatesFolderName;
  DWORD attributes = ::GetFileAttributesW(updates.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;

  std::vector<std::wstring> folders;
  for (const std::wstring& folder : ListSubfolders(updates)) {
    if (IsLink(::GetFileAttributesW(folder.c_str()))) {
      RemoveLink(folder);  // never archive or delete through a link
    } else {
      folders.push_back(folder);
    }
  }
  if (folders.empty()) return;
  if (!IsArchiveToolPresent(programFolder)) {
    // Nothing is deleted that no archive holds: all of them wait for a start that has the tool.
    AppendActivityLog(programFolder, kDownloadsLog,
                      "ARCHIVADO_SIN_7ZA;" + NarrowLow8(ArchiveToolPath(programFolder)) +
                          ";carpetas=" + std::to_string(folders.size()));
    return;
  }
  Housekeeping housekeeping(programFolder, budgetMs, folderLimitMs);
  for (const std::wstring& folder : folders) housekeeping.Run(folder);
}

}  // namespace brivon
