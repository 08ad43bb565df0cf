#include "update/update_repair.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "common/activity_log.h"
#include "common/log_line.h"
#include "common/long_path.h"
#include "common/path_name.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "files/durable_file.h"
#include "files/file_facts.h"
#include "files/file_hash.h"
#include "files/folder_lock.h"
#include "files/sharing_waits.h"
#include "update/data_copies_archive.h"
#include "update/executable_search.h"
#include "update/file_moves.h"
#include "update/package_download.h"
#include "update/package_naming.h"
#include "update/previous_versions.h"

namespace brivon {
namespace {

// The largest record a run writes is a few paths long.
constexpr std::streamsize kMaxRecordBytes = 64 * 1024;

void Log(const std::wstring& programFolder, const std::string& text) {
  AppendActivityLog(programFolder, kDownloadsLog, text);
}

// A step's outcome: marker and the path it worked on (and where that went) when it succeeded;
// otherwise "ERROR_" + marker, the same and the system error.
void LogOutcome(const std::wstring& folder, bool ok, const std::string& marker, const std::wstring& path) {
  const DWORD error = ::GetLastError();
  LogLine line(ok ? marker : "ERROR_" + marker);
  line.Field(path);
  Log(folder, ok ? line : line.Err(error));
}
void LogOutcome(const std::wstring& folder, bool ok, const std::string& marker, const std::wstring& from,
                const std::wstring& to) {
  const DWORD error = ::GetLastError();
  LogLine line(ok ? marker : "ERROR_" + marker);
  line.Field(from).To(to);
  Log(folder, ok ? line : line.Err(error));
}

bool ReadRecordText(const std::wstring& path, std::string& text) {
  std::ifstream in(std::filesystem::path(ForFileSystem(path)), std::ios::binary);
  if (!in) return false;
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return text.size() <= static_cast<size_t>(kMaxRecordBytes);
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

// The folders of the updates folder the record names (or the repair found the old program in):
// made by the run, each for one file.
std::vector<std::wstring> KeptFolders(const UpdateRecord& record, const std::wstring& keptCopyPath) {
  std::vector<std::wstring> folders;
  for (const std::wstring* path : {&record.keptCopy, &keptCopyPath, &record.replacedKept}) {
    if (path->empty()) continue;
    const std::wstring folder = FolderOf(*path);
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
  }
  return folders;
}

// Copies made beside their names in a kept folder ("*.escribiendo"): only this program names a
// file so, and only before its rename.
std::vector<std::wstring> StagedCopiesIn(const std::wstring& folder) {
  std::vector<std::wstring> found;
  if (::GetFileAttributesW(ForFileSystem(folder).c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) return found;
  WIN32_FIND_DATAW entry;
  UniqueFind listing(::FindFirstFileW(ForFileSystem(StagingNameOf(folder + L"\\*")).c_str(), &entry));
  if (!listing) return found;
  do {
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) found.push_back(folder + L"\\" + entry.cFileName);
  } while (::FindNextFileW(listing.get(), &entry));
  return found;
}

// The program's part of the facts, looked at again after the steps.
void LookAtProgram(const UpdateRecord& record, RepairFacts& facts) {
  facts.installed = IdentityOf(record.installed);
  facts.installedMissing = IsMissing(record.installed);
  facts.installedSha256.clear();
  if (facts.installed.exists && facts.installed != record.installedBefore && !record.newProgramSha256.empty()) {
    facts.installedSha256 = Sha256HexOfFile(record.installed);
  }
}

// keptCopyPath: the record's, or the old program found in the updates folder.
RepairFacts LookAt(const UpdateRecord& record, std::wstring& keptCopyPath) {
  RepairFacts facts;
  facts.partialExists = IsExistingFile(record.package + kPartialSuffix);
  facts.package = IdentityOf(record.package);
  facts.packageMissing = IsMissing(record.package);
  facts.stagingCopyExists = IsExistingFile(StagingNameOf(record.package));
  if (!record.installed.empty()) {
    LookAtProgram(record, facts);
    facts.setAside = IdentityOf(record.setAside);
    facts.stagingCopyExists = facts.stagingCopyExists || IsExistingFile(StagingNameOf(record.installed));
  }
  keptCopyPath = record.keptCopy;
  if (!record.keptCopy.empty()) facts.keptCopy = IdentityOf(record.keptCopy);
  // Cut off between the previous version's move and the record of where it went (a record of an
  // earlier version, which named it only afterwards): it is in one of the updates folder's
  // time-stamped folders, known by its identity.
  if (!record.installed.empty() && record.installedBefore.exists && facts.installedMissing &&
      facts.setAside != record.installedBefore && facts.keptCopy != record.installedBefore) {
    const std::wstring updates = record.programFolder + kUpdatesFolderName;
    const std::wstring name = NameAfterLastSeparator(record.installed);
    for (const std::wstring& stampFolder : ListSubfolders(updates)) {
      if (::GetFileAttributesW(ForFileSystem(stampFolder).c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) continue;  // never through a link
      const std::wstring candidate = stampFolder + L"\\" + StripExtension(name) + L".exe";
      if (IdentityOf(candidate) == record.installedBefore) {
        keptCopyPath = candidate;
        facts.keptCopy = record.installedBefore;
        break;
      }
    }
  }
  facts.extractionFolderExists = record.isZip && IsExistingFolder(record.extractionFolder);
  if (!record.replacedKept.empty()) facts.replacedKept = IdentityOf(record.replacedKept);
  for (const std::wstring& kept : KeptFolders(record, keptCopyPath)) {
    facts.stagedDataCopies = facts.stagedDataCopies || !StagedCopiesIn(kept).empty();
    facts.emptyKeptFolder = facts.emptyKeptFolder || (IsExistingFolder(kept) && IsFolderEmpty(kept));
  }
  return facts;
}

// Logs a put-back that found its name taken and went beside it.
void LogFreeName(const std::wstring& folder, const std::wstring& to, const std::wstring& placed) {
  if (!placed.empty() && placed != to) Log(folder, LogLine("REPARACION_NOMBRE_LIBRE").Field(to).To(placed));
}

// A program goes back under its own name only, once it is proved free.
bool RestoreProgram(const std::wstring& folder, const std::wstring& from, const std::wstring& program,
                    bool keepSource) {
  const bool ok = PutBackProgram(from, program, keepSource) == PutBackResult::Done;
  LogOutcome(folder, ok, "REPARACION_RESTAURADO", from, program);
  return ok;
}

// Carries one step out; false when it failed. record: the repair's own copy, rewritten where a
// step moves a file, so that it names where the file goes before it leaves.
bool Carry(const std::wstring& folder, UpdateRecord& record, const std::wstring& keptCopyPath, RepairStep step) {
  std::wstring placed;
  switch (step) {
    case RepairStep::DeletePartial: {
      const std::wstring partial = record.package + kPartialSuffix;
      const bool ok = DeleteFileWaiting(partial);
      LogOutcome(folder, ok, "REPARACION_PARCIAL_ELIMINADO", partial);
      return ok;
    }
    case RepairStep::SetDamagedAside: {
      // Kept, never deleted: it is known only by what it is not.
      const std::wstring aside = FreeNameBeside(record.installed + L".danado");
      const bool ok = !aside.empty() && MoveFileWaiting(record.installed, aside, MOVEFILE_WRITE_THROUGH);
      if (aside.empty()) ::SetLastError(ERROR_FILE_EXISTS);
      LogOutcome(folder, ok, "REPARACION_PROGRAMA_DANADO", record.installed, aside);
      return ok;
    }
    case RepairStep::RestoreFromSetAside:
      // A plain rename: the program may be running under its set-aside name, and a running
      // program refuses the write open a flush would need.
      return RestoreProgram(folder, record.setAside, record.installed, false);
    case RepairStep::RestoreFromKeptCopy:
      // A copy first: the updates folder keeps the previous version, as a whole run would.
      return RestoreProgram(folder, keptCopyPath, record.installed, /*keepSource=*/true);
    case RepairStep::RestoreReplacedFile: {
      const bool ok = PutBackFile(record.replacedKept, record.package, false, &placed);
      LogFreeName(folder, record.package, placed);
      LogOutcome(folder, ok, "REPARACION_RESTAURADO", record.replacedKept, ok ? placed : record.package);
      ::RemoveDirectoryW(ForFileSystem(FolderOf(record.replacedKept)).c_str());  // only when emptied
      return ok;
    }
    case RepairStep::DeleteStagingCopy: {
      bool ok = true;
      for (const std::wstring& named : {record.installed, record.package}) {
        const std::wstring staging = StagingNameOf(named);
        if (named.empty() || !IsExistingFile(staging)) continue;  // gone: an executable package is both
        SetAttributesWaiting(staging, FILE_ATTRIBUTE_NORMAL);
        const bool deleted = DeleteFileWaiting(staging);
        LogOutcome(folder, deleted, "REPARACION_COPIA_TEMPORAL_ELIMINADA", staging);
        ok = ok && deleted;
      }
      return ok;
    }
    case RepairStep::DeleteStagedDataCopies: {
      bool ok = true;
      for (const std::wstring& kept : KeptFolders(record, keptCopyPath)) {
        for (const std::wstring& staging : StagedCopiesIn(kept)) {
          SetAttributesWaiting(staging, FILE_ATTRIBUTE_NORMAL);
          const bool deleted = DeleteFileWaiting(staging);
          LogOutcome(folder, deleted, "REPARACION_COPIA_TEMPORAL_ELIMINADA", staging);
          ok = ok && deleted;
        }
      }
      return ok;
    }
    case RepairStep::KeepSetAsideAsPrevious: {
      const std::wstring name = NameAfterLastSeparator(record.installed);
      // Named in the record before it moves: a repair cut off in turn finds it there.
      UpdateFolderPlace place;
      bool moved = MakeUpdateFolderPlace(folder, StripExtension(name) + L".exe", &place);
      if (moved) {
        UpdateRecord named = record;
        named.keptCopy = place.path;
        moved = WriteUpdateRecord(named);
        if (moved) {
          record = named;
        } else {
          const DWORD error = ::GetLastError();
          Log(folder, LogLine("ERROR_REGISTRO_ACTUALIZACION").Field(UpdateRecordPath(folder)).Err(error));
        }
      }
      moved = moved && MoveIntoUpdateFolder(folder, record.setAside, place, FlushRule::UnlessRunningProgram);
      if (!moved && !place.folder.empty()) ::RemoveDirectoryW(ForFileSystem(place.folder).c_str());
      LogLine line("REPARACION_ANTERIOR_A_ACTUALIZACIONES");
      line.Field(record.setAside);
      Log(folder, moved ? line.To(place.path) : line.Field("->").Field("ERROR"));
      if (moved) {
        CopyDataFilesAndArchive(folder, place.folder,
                                record.isZip ? "COPIA_PATRONES_RESUMEN_ZIP;" : "COPIA_PATRONES_RESUMEN;");
      }
      return moved;
    }
    case RepairStep::DeletePackage: {
      ::SetFileAttributesW(ForFileSystem(record.package).c_str(), FILE_ATTRIBUTE_NORMAL);
      const bool ok = DeleteFileWaiting(record.package);
      LogOutcome(folder, ok, "REPARACION_PAQUETE_ELIMINADO", record.package);
      return ok;
    }
    case RepairStep::RemoveExtractionFolder: {
      const bool ok = DeleteFolderTree(record.extractionFolder);
      LogOutcome(folder, ok, "REPARACION_CARPETA_ELIMINADA", record.extractionFolder);
      return ok;
    }
    case RepairStep::RemoveExtractionFolderIfEmpty:
      if (IsFolderEmpty(record.extractionFolder)) {
        const bool ok = RemoveFolderWaiting(record.extractionFolder);
        LogOutcome(folder, ok, "REPARACION_CARPETA_VACIA_ELIMINADA", record.extractionFolder);
        return ok;
      }
      return true;
    case RepairStep::RemoveEmptyKeptFolder:
      for (const std::wstring& kept : KeptFolders(record, keptCopyPath)) {
        ::RemoveDirectoryW(ForFileSystem(kept).c_str());  // only an empty one: as a whole run leaves none
      }
      return true;
  }
  return true;
}

bool IsRestore(RepairStep step) {
  return step == RepairStep::RestoreFromSetAside || step == RepairStep::RestoreFromKeptCopy;
}

}  // namespace

ProgramInPlace JudgeProgramInPlace(const UpdateRecord& record, const RepairFacts& facts) {
  if (facts.installedMissing) return ProgramInPlace::Missing;
  if (!facts.installed.exists) return ProgramInPlace::Unknown;
  if (facts.installed == record.installedBefore) return ProgramInPlace::Old;
  if (record.newProgramSha256.empty()) return ProgramInPlace::New;
  if (facts.installedSha256 == record.newProgramSha256) return ProgramInPlace::New;
  if (facts.installedSha256.empty()) return ProgramInPlace::Unknown;
  // A power cut keeps the length a rename published and may lose the bytes: the right size with
  // another content is the new program damaged, anything else someone else's file.
  return facts.installed.size == record.newProgram.size ? ProgramInPlace::Damaged : ProgramInPlace::Other;
}

std::vector<RepairStep> PlanRepair(const UpdateRecord& record, const RepairFacts& facts) {
  std::vector<RepairStep> steps;
  if (facts.partialExists) steps.push_back(RepairStep::DeletePartial);
  // First: a copy of the old program put back by a copy takes the same beside name.
  if (facts.stagingCopyExists) steps.push_back(RepairStep::DeleteStagingCopy);

  // The program: its old version is known by the identity it had before the run.
  bool newInPlace = false;
  const FileIdentity& old = record.installedBefore;
  if (!record.installed.empty() && old.exists) {
    std::optional<RepairStep> restore;
    if (facts.setAside == old) {
      restore = RepairStep::RestoreFromSetAside;
    } else if (facts.keptCopy == old) {
      restore = RepairStep::RestoreFromKeptCopy;
    }
    switch (JudgeProgramInPlace(record, facts)) {
      case ProgramInPlace::Missing:
        if (restore) steps.push_back(*restore);
        break;
      case ProgramInPlace::Damaged:
        // Only with the old program at hand: otherwise the damaged one is all there is.
        if (restore) {
          steps.push_back(RepairStep::SetDamagedAside);
          steps.push_back(*restore);
        }
        break;
      case ProgramInPlace::New:
        newInPlace = true;
        // The set-aside is the run's own only if it is the old program, not a leftover of before.
        if (facts.setAside == old && facts.setAside != record.setAsideBefore) {
          steps.push_back(RepairStep::KeepSetAsideAsPrevious);
        }
        break;
      case ProgramInPlace::Old:
      case ProgramInPlace::Other:
      case ProgramInPlace::Unknown:
        break;
    }
  }

  // A file of the user's the package was to replace, kept in the updates folder, goes back where
  // the package never arrived.
  if (!record.replacedKept.empty() && facts.packageMissing && facts.replacedKept.exists &&
      facts.replacedKept == record.packageBefore) {
    steps.push_back(RepairStep::RestoreReplacedFile);
  }

  if (record.isZip) {
    // The package is the run's own download only as it was when it was downloaded: a file saved
    // under its name meanwhile is someone else's.
    if (record.packageDownloaded.exists && facts.package == record.packageDownloaded) {
      steps.push_back(RepairStep::DeletePackage);
    }
    // The folder is the run's own only once the run made it for unpacking.
    if (facts.extractionFolderExists && record.extractionStarted && !record.extractionFolderExisted) {
      steps.push_back(newInPlace ? RepairStep::RemoveExtractionFolderIfEmpty : RepairStep::RemoveExtractionFolder);
    }
  }
  if (facts.stagedDataCopies) steps.push_back(RepairStep::DeleteStagedDataCopies);
  if (facts.emptyKeptFolder) steps.push_back(RepairStep::RemoveEmptyKeptFolder);
  return steps;
}

void RunStartupRepair(const std::wstring& programFolder) {
  if (programFolder.empty()) return;
  const std::wstring path = UpdateRecordPath(programFolder);
  if (::GetFileAttributesW(ForFileSystem(path).c_str()) == INVALID_FILE_ATTRIBUTES) return;  // the usual start
  // Never beside a live run: its set-aside is not a leftover to undo.
  FolderLock lock(programFolder);
  if (!lock.held()) return;

  std::string text;
  UpdateRecord record;
  bool whole = ReadRecordText(path, text) && ParseUpdateRecord(text, record);
  // Written through another path of this folder (a mapped drive, its UNC path, an 8.3 name):
  // its paths are moved onto this start's.
  if (whole && !IsRecordOfFolder(record, programFolder)) RebaseUpdateRecord(record, programFolder, FolderIdOf(programFolder));
  if (!whole || !IsRecordOfFolder(record, programFolder)) {
    // Damaged, foreign or of another folder: nothing in it can be trusted to delete anything by.
    Log(programFolder, LogLine("REPARACION_REGISTRO_DESCARTADO").Field(path));
    RemoveUpdateRecord(programFolder);
    return;
  }
  Log(programFolder, LogLine("REPARACION_ACTUALIZACION_INTERRUMPIDA").Field(record.packageUrl).Field(record.package));
  std::wstring keptCopyPath;
  RepairFacts facts = LookAt(record, keptCopyPath);
  const bool namesProgram = !record.installed.empty() && record.installedBefore.exists;
  ProgramInPlace inPlace = namesProgram ? JudgeProgramInPlace(record, facts) : ProgramInPlace::Old;
  bool restored = false;
  for (RepairStep step : PlanRepair(record, facts)) {
    if (Carry(programFolder, record, keptCopyPath, step) && IsRestore(step)) restored = true;
  }
  // The record goes only once the old program or the new one, whole, is under its own name:
  // otherwise the next start tries again.
  if (restored) {
    inPlace = ProgramInPlace::Old;
  } else if (inPlace != ProgramInPlace::New && inPlace != ProgramInPlace::Old) {
    LookAtProgram(record, facts);
    inPlace = JudgeProgramInPlace(record, facts);
  }
  if (inPlace != ProgramInPlace::New && inPlace != ProgramInPlace::Old) {
    const bool taken = inPlace == ProgramInPlace::Damaged || inPlace == ProgramInPlace::Other;
    Log(programFolder, LogLine("REPARACION_PENDIENTE")
                           .Field(record.installed)
                           .Field(taken ? "motivo=NOMBRE_OCUPADO" : "motivo=PROGRAMA_AUSENTE"));
    return;
  }
  RemoveUpdateRecord(programFolder);
  Log(programFolder, "REPARACION_FIN");
}

}  // namespace brivon
