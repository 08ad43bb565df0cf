#include "housekeeping/housekeeping.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "common/activity_log.h"
#include "common/log_line.h"
#include "common/long_path.h"
#include "common/path_name.h"
#include "common/test_hooks.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "files/disk_space.h"          // LeavesEnoughSpace, ReadFreeBytes, FreeSpaceMargin
#include "files/durable_file.h"
#include "files/file_facts.h"
#include "files/sharing_waits.h"
#include "sevenzip/archive_listing.h"
#include "sevenzip/seven_zip_command.h"
#include "sevenzip/tool_fetch.h"       // ArchiveToolIdentity
#include "update/previous_versions.h"  // kUpdatesFolderName
#include "update/update_record.h"      // UpdateRecordPath

namespace brivon {
namespace {

bool IsLink(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
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

StrikeRecord ReadStrikeRecord(const std::wstring& path) {
  UniqueFile file(::CreateFileW(ForFileSystem(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return {};
  char text[256];
  DWORD read = 0;
  if (!::ReadFile(file.get(), text, sizeof(text), &read, nullptr)) return {};
  return ParseStrikeRecord(std::string_view(text, read));
}

// A file's stamp as the folder's listing gives it: its last write in local time.
FileStamp StampOf(uint64_t size, const FILETIME& lastWrite) {
  FileStamp stamp;
  stamp.size = size;
  FILETIME local = {};
  if (::FileTimeToLocalFileTime(&lastWrite, &local)) {
    stamp.modified = static_cast<int64_t>((static_cast<uint64_t>(local.dwHighDateTime) << 32) | local.dwLowDateTime);
  }
  return stamp;
}

// A name taken, by an earlier archive or anything else, sends the search on to the next name.
bool IsNameTaken(DWORD error) { return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS; }

// An update whose repair is not done yet still counts on what it kept in the updates folder. A
// record that cannot be looked up (a share reconnecting) may be there.
bool IsUpdateRecordPending(const std::wstring& programFolder) {
  if (::GetFileAttributesW(ForFileSystem(UpdateRecordPath(programFolder)).c_str()) != INVALID_FILE_ATTRIBUTES) {
    return true;
  }
  const DWORD error = ::GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

uint64_t TotalSize(const FileStamps& files) {
  uint64_t total = 0;
  for (const auto& [path, stamp] : files) total = stamp.size > UINT64_MAX - total ? UINT64_MAX : total + stamp.size;
  return total;
}

// One start's walk over the leftover folders, within its budget.
class Housekeeping {
 public:
  Housekeeping(const std::wstring& programFolder, std::string tool, unsigned long budgetMs,
               unsigned long folderLimitMs)
      : program_(programFolder), updates_(programFolder + kUpdatesFolderName), tool_(std::move(tool)),
        budgetMs_(budgetMs), folderLimitMs_(folderLimitMs), start_(::GetTickCount64()) {}

  void RunAll(const std::vector<std::wstring>& folders) {
    for (size_t i = 0; i < folders.size(); ++i) {
      Run(folders[i]);
      if (toolRefused_) {
        // Every other folder would meet the same refusal: they all wait for a start whose tool runs.
        Log(LogLine("ARCHIVADO_7ZA_NO_ARRANCA")
                .Field(ArchiveToolPath(program_))
                .Err(toolError_)
                .Named("carpetas", folders.size() - i));
        return;
      }
    }
  }

 private:
  void Run(const std::wstring& folder) {
    const std::wstring strikesPath = folder + kStrikeCountSuffix;
    const StrikeRecord strikes = ReadStrikeRecord(strikesPath);
    if (!ShouldTryLeftover(strikes, tool_)) {
      Log("ARCHIVADO_OMITIDO;" + NarrowLow8(folder) + ";intentos=" + std::to_string(strikes.count));
      return;
    }
    if (Left() == 0) {  // the start goes on; a later one archives the rest
      Log("ARCHIVADO_APLAZADO;" + NarrowLow8(folder));
      return;
    }
    FileStamps files;
    if (!ReadFolder(folder, files)) return;
    const std::wstring archive = updates_ + L"\\" + NameAfterLastSeparator(folder) + L".zip";
    // An archive the update or an earlier start made may hold the folder as it stands already (its
    // deletion was cut short, or a program still ran from it): then it is not made again. One that
    // differs (a person restored it here and edited a file) is kept, and the folder archived anew;
    // the newest of those beside it is asked too, so that a folder kept by a file in use is not
    // archived again at every start.
    bool alreadyArchived = files.empty();
    for (const std::wstring& earlier : {archive, NewestBesideArchive(archive)}) {
      if (alreadyArchived || earlier.empty()) break;
      switch (Holds(earlier, files, folder)) {
        case Proof::Holds:
          alreadyArchived = true;
          break;
        case Proof::Differs:
          break;
        case Proof::Stop:
          return;
      }
    }
    FileStamps checked = files;
    if (!alreadyArchived && !ArchiveAndCheck(folder, archive, files, strikesPath, strikes, checked)) return;
    RemoveChecked(folder, checked, strikesPath);
  }

  // Deletes the files the archive was proven to hold, each only while it is still as it was then:
  // a file added or written since (the folder is read before 7-Zip's listing, which may take
  // minutes) stays, and its folder with it, for a later start to archive. Within what is left of
  // the start's budget, so that files held by others cannot hold the start.
  void RemoveChecked(const std::wstring& folder, const FileStamps& checked, const std::wstring& strikesPath) {
    TestTraceFileEvent("checked", folder);
    TestKillPoint("ARCHIVO_COMPROBADO");
    auto asChecked = [&](const std::wstring& relative, uint64_t size, const FILETIME& lastWrite) {
      const auto found = checked.find(relative);
      return found != checked.end() && found->second == StampOf(size, lastWrite);
    };
    const TreeDeletion deletion = DeleteFolderTreeWithin(folder, Remaining(), asChecked);
    if (deletion.whole) {
      DeleteFileWaiting(strikesPath);
    } else if (deletion.outOfTime) {
      Log("CARPETA_ELIMINACION_APLAZADA;" + NarrowLow8(folder));
    } else if (deletion.error != 0) {
      // A file in use stays with its folder for a later start, which finds it in the archive.
      Log(LogLine("CARPETA_NO_ELIMINADA").Field(folder).Err(deletion.error));
    } else {
      Log("CARPETA_CONSERVADA;" + NarrowLow8(folder) + ";sin_comprobar=" + std::to_string(deletion.kept));
    }
  }

  enum class Proof { Holds, Differs, Stop };

  // Whether an earlier archive holds the folder's files as they stand. One that cannot be listed
  // proves nothing; a tool that will not start, or the budget's end, stops the folder here.
  Proof Holds(const std::wstring& archive, const FileStamps& files, const std::wstring& folder) {
    if (!IsExistingFile(archive)) return Proof::Differs;
    FileStamps stored;
    unsigned long code = 0;
    bool started = false;
    const unsigned long given = Left();
    if (ListArchiveStamps(program_, archive, stored, &code, given, &started)) {
      return CountFilesNotArchived(files, stored) == 0 ? Proof::Holds : Proof::Differs;
    }
    switch (ClassifyLeftoverFailure(LeftoverStep::List, started, code, given, folderLimitMs_, false)) {
      case LeftoverFailure::ToolNotStarted:
        RefusedTool(code);
        return Proof::Stop;
      case LeftoverFailure::CutByBudget:
        Log("ARCHIVADO_APLAZADO;" + NarrowLow8(folder));
        return Proof::Stop;
      default:
        return Proof::Differs;
    }
  }

  // The last "<stem> (N).zip" beside archive; empty when there is none.
  static std::wstring NewestBesideArchive(const std::wstring& archive) {
    std::wstring newest;
    for (unsigned number = 2; number < 1000 && IsExistingFile(BesideArchiveName(archive, number)); ++number) {
      newest = BesideArchiveName(archive, number);
    }
    return newest;
  }

  // What is left of the budget for the next child, at most the folder's own limit.
  unsigned long Left() const { return std::min(folderLimitMs_, Remaining()); }

  // What is left of the start's budget.
  unsigned long Remaining() const {
    const ULONGLONG spent = ::GetTickCount64() - start_;
    return spent >= budgetMs_ ? 0 : static_cast<unsigned long>(budgetMs_ - spent);
  }

  // A folder that cannot be listed whole (a share reconnecting) is neither archived nor deleted:
  // what was not seen would be lost. No strike: it is the listing's fault, not the folder's.
  bool ReadFolder(const std::wstring& folder, FileStamps& files) {
    unsigned long error = 0;
    if (ReadFolderStamps(folder, files, &error)) return true;
    Log(LogLine("ERROR_LISTAR_CARPETA").Field(folder).Err(error));
    return false;
  }

  // Archives folder and proves the archive holds it as it stands (checked: the files proven). False
  // when it is to stay.
  bool ArchiveAndCheck(const std::wstring& folder, const std::wstring& archive, const FileStamps& files,
                       const std::wstring& strikesPath, const StrikeRecord& strikes, FileStamps& checked) {
    // The folder's size bounds its archive: 7-Zip may not take the drive below the margin.
    const uint64_t needed = TotalSize(files);
    // The margin is fixed from what was free before this folder's step began.
    uint64_t freeBytes = 0;
    const bool known = ReadFreeBytes(updates_, &freeBytes);
    stepMargin_ = known ? FreeSpaceMargin(freeBytes) : FreeSpaceMargin();
    if (known && !LeavesEnoughSpace(freeBytes, needed, stepMargin_)) {
      Log("ARCHIVADO_SIN_ESPACIO;" + NarrowLow8(folder) + ";necesarios=" + std::to_string(needed) + ";libres=" +
          std::to_string(freeBytes) + ";margen=" + std::to_string(stepMargin_));
      return false;
    }
    unsigned long given = Left();
    const LeftoverArchiving archiving = ArchiveLeftoverFolder(program_, folder, archive, given);
    if (!archiving.ok) {
      Failed(archiving.failedAt, archiving.started, archiving.code, given, "ARCHIVADO_ERROR;" + NarrowLow8(folder),
             folder, strikesPath, strikes);
      return false;
    }
    // Deleted only once 7-Zip's listing shows every file in the archive as it stands.
    given = Left();
    FileStamps stored;
    unsigned long code = kChildTimedOutExitCode;
    bool started = true;
    if (given == 0 || !ListArchiveStamps(program_, archiving.placedAt, stored, &code, given, &started)) {
      Failed(LeftoverStep::List, started, code, given,
             "ERROR_LISTAR_ARCHIVO;" + NarrowLow8(archiving.placedAt) + ";" + NarrowLow8(folder), folder, strikesPath,
             strikes);
      return false;
    }
    FileStamps& now = checked;
    if (!ReadFolder(folder, now)) return false;
    const size_t missing = CountFilesNotArchived(now, stored);
    if (missing != 0) {
      // Archiving it again would leave the same files out: not tried again with this tool.
      WriteFileDurably(strikesPath, StrikeRecordText({std::max(strikes.count, kHousekeepingStrikesBeforeSkip), tool_}));
      Log("ARCHIVO_INCOMPLETO;" + NarrowLow8(folder) + ";" + NarrowLow8(archiving.placedAt) + ";faltan=" +
          std::to_string(missing));
      return false;
    }
    return true;
  }

  void Failed(LeftoverStep step, bool started, unsigned long code, unsigned long given, const std::string& line,
              const std::wstring& folder, const std::wstring& strikesPath, const StrikeRecord& strikes) {
    uint64_t freeBytes = 0;
    const bool belowMargin = ReadFreeBytes(updates_, &freeBytes) && !LeavesEnoughSpace(freeBytes, 0, stepMargin_);
    switch (ClassifyLeftoverFailure(step, started, code, given, folderLimitMs_, belowMargin)) {
      case LeftoverFailure::CutByBudget:
        Log("ARCHIVADO_APLAZADO;" + NarrowLow8(folder));
        return;
      case LeftoverFailure::ToolNotStarted:
        RefusedTool(code);
        return;
      case LeftoverFailure::ToolFault:
        Log("ARCHIVADO_ERROR_7ZA;" + NarrowLow8(folder) + ";ec=" + std::to_string(code));
        return;
      case LeftoverFailure::DriveFull:
        Log("ARCHIVADO_DISCO_LLENO;" + NarrowLow8(folder) + ";ec=" + std::to_string(code) + ";libres=" +
            std::to_string(freeBytes));
        return;
      case LeftoverFailure::TimedOut: {
        const int count = strikes.count + 1;
        WriteFileDurably(strikesPath, StrikeRecordText({count, tool_}));
        Log("ARCHIVADO_AGOTADO;" + NarrowLow8(folder) + ";intentos=" + std::to_string(count));
        return;
      }
      case LeftoverFailure::Failed: {
        const int count = strikes.count + 1;
        WriteFileDurably(strikesPath, StrikeRecordText({count, tool_}));
        Log(line + ";ec=" + std::to_string(code) + ";intentos=" + std::to_string(count));
        return;
      }
    }
  }

  void RefusedTool(unsigned long error) {
    toolRefused_ = true;
    toolError_ = error;
  }

  void Log(const std::string& text) const { AppendActivityLog(program_, kDownloadsLog, text); }

  const std::wstring program_;
  const std::wstring updates_;
  const std::string tool_;
  const unsigned long budgetMs_;
  const unsigned long folderLimitMs_;
  const ULONGLONG start_;
  bool toolRefused_ = false;  // 7-Zip would not start: the walk ends
  unsigned long toolError_ = 0;
  uint64_t stepMargin_ = kFreeSpaceMarginBytes;  // of the folder being archived
};

}  // namespace

ArchivePlacement ChooseArchivePlacement(bool earlierExists) {
  return earlierExists ? ArchivePlacement::Beside : ArchivePlacement::Take;
}

std::wstring BesideArchiveName(const std::wstring& archivePath, unsigned number) {
  return Stem(archivePath) + L" (" + std::to_wstring(number) + L").zip";
}

LeftoverArchiving ArchiveLeftoverFolder(const std::wstring& programFolder, const std::wstring& folder,
                                        const std::wstring& archivePath, unsigned long timeoutMs) {
  LeftoverArchiving result;
  const std::wstring fresh = FreshArchiveName(archivePath);
  if (!ZipFolderContents(programFolder, folder, fresh, &result.code, timeoutMs, &result.started)) return result;
  TestKillPoint("ARCHIVO_NUEVO_ESCRITO");
  result.failedAt = LeftoverStep::Place;
  // Flushed once: each name tried after it is a rename alone.
  if (!FlushFileToDisk(fresh)) {
    result.code = ::GetLastError();
    DeleteFileWaiting(fresh);
    return result;
  }
  const bool beside = ChooseArchivePlacement(IsExistingFile(archivePath)) == ArchivePlacement::Beside;
  std::wstring name;
  // Its own name, then "<stem> (2).zip" on. Only a name taken sends it on: any other error (the new
  // archive held past the wait, no right to the folder) would meet every next name, each after a
  // wait of its own.
  for (unsigned number = beside ? 2 : 1; number < 1000; ++number) {
    name = number == 1 ? archivePath : BesideArchiveName(archivePath, number);
    if (RenameFlushed(fresh, name, 0)) {
      result.placedAt = name;
      result.ok = true;
      return result;
    }
    result.code = ::GetLastError();
    if (!IsNameTaken(result.code)) break;
  }
  AppendActivityLog(programFolder, kDownloadsLog,
                    LogLine("ERROR_NOMBRE_ARCHIVO").Field(fresh).To(name).Err(result.code));
  DeleteFileWaiting(fresh);
  return result;
}

void RunStartupHousekeeping(const std::wstring& programFolder, unsigned long budgetMs, unsigned long folderLimitMs) {
  if (programFolder.empty()) return;
  const std::wstring updates = programFolder + kUpdatesFolderName;
  if (!IsExistingFolder(updates)) return;
  if (IsUpdateRecordPending(programFolder)) {
    // The repair puts the folder right from what it kept there first: nothing is touched until then.
    AppendActivityLog(programFolder, kDownloadsLog,
                      "ARCHIVADO_SUSPENDIDO;" + NarrowLow8(updates) +
                          ";registro=" + NarrowLow8(UpdateRecordPath(programFolder)));
    return;
  }

  std::vector<std::wstring> folders;
  for (const std::wstring& folder : ListSubfolders(updates)) {
    if (IsLink(::GetFileAttributesW(ForFileSystem(folder).c_str()))) {
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
  Housekeeping housekeeping(programFolder, ArchiveToolIdentity(ArchiveToolPath(programFolder)), budgetMs,
                            folderLimitMs);
  housekeeping.RunAll(folders);
}

}  // namespace brivon
