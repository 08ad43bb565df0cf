#include "update/update_repair.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/activity_log.h"
#include "common/durable_file.h"
#include "common/file_waits.h"
#include "common/folder_lock.h"
#include "common/long_path.h"
#include "common/text.h"
#include "update/executable_search.h"
#include "update/file_moves.h"
#include "update/folder_archive.h"
#include "update/package_download.h"
#include "update/package_naming.h"
#include "update/previous_versions.h"

namespace brivon {
namespace {

// The largest record a run writes is a few paths long.
constexpr std::streamsize kMaxRecordBytes = 64 * 1024;

std::string N(const std::wstring& path) { return NarrowLow8(path); }

void Log(const std::wstring& programFolder, const std::string& text) {
  AppendActivityLog(programFolder, kDownloadsLog, text);
}

void LogOutcome(const std::wstring& folder, bool ok, const std::string& marker, const std::string& what) {
  if (ok) {
    Log(folder, marker + ";" + what);
  } else {
    const DWORD error = ::GetLastError();
    Log(folder, "ERROR_" + marker + ";" + what + ";err=" + std::to_string(error));
  }
}

bool ReadRecordText(const std::wstring& path, std::string& text) {
  std::ifstream in(std::filesystem::path(ForFileSystem(path)), std::ios::binary);
  if (!in) return false;
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return text.size() <= static_cast<size_t>(kMaxRecordBytes);
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(ForFileSystem(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// keptCopyPath: the record's, or the old program found in the updates folder.
RepairFacts LookAt(const UpdateRecord& record, std::wstring& keptCopyPath) {
  RepairFacts facts;
  facts.partialExists = IsExistingFile(record.package + kPartialSuffix);
  facts.package = IdentityOf(record.package);
  facts.packageMissing = IsMissing(record.package);
  facts.stagingCopyExists = IsExistingFile(StagingNameOf(record.package));
  if (!record.installed.empty()) {
    facts.installed = IdentityOf(record.installed);
    facts.installedMissing = IsMissing(record.installed);
    facts.setAside = IdentityOf(record.setAside);
    facts.stagingCopyExists = facts.stagingCopyExists || IsExistingFile(StagingNameOf(record.installed));
  }
  keptCopyPath = record.keptCopy;
  if (!record.keptCopy.empty()) facts.keptCopy = IdentityOf(record.keptCopy);
  // Cut off between the previous version's move and the record of where it went: it is in one
  // of the updates folder's time-stamped folders, known by its identity.
  if (!record.installed.empty() && record.installedBefore.exists && facts.installedMissing &&
      facts.setAside != record.installedBefore && facts.keptCopy != record.installedBefore) {
    const std::wstring updates = record.programFolder + kUpdatesFolderName;
    const std::wstring name = record.installed.substr(record.installed.find_last_of(L'\\') + 1);
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
  facts.extractionFolderExists = record.isZip && IsFolder(record.extractionFolder);
  if (!record.replacedKept.empty()) facts.replacedKept = IdentityOf(record.replacedKept);
  return facts;
}

// Logs a put-back that found its name taken and went beside it.
void LogFreeName(const std::wstring& folder, const std::wstring& to, const std::wstring& placed) {
  if (!placed.empty() && placed != to) Log(folder, "REPARACION_NOMBRE_LIBRE;" + N(to) + ";->;" + N(placed));
}

void Carry(const std::wstring& folder, const UpdateRecord& record, const std::wstring& keptCopyPath, RepairStep step) {
  std::wstring placed;
  switch (step) {
    case RepairStep::DeletePartial: {
      const std::wstring partial = record.package + kPartialSuffix;
      LogOutcome(folder, DeleteFileWaiting(partial), "REPARACION_PARCIAL_ELIMINADO", N(partial));
      break;
    }
    case RepairStep::RestoreFromSetAside: {
      // A plain rename: the program may be running under its set-aside name, and a running
      // program refuses the write open a flush would need.
      const bool ok = PutBackFile(record.setAside, record.installed, false, &placed);
      LogFreeName(folder, record.installed, placed);
      LogOutcome(folder, ok, "REPARACION_RESTAURADO",
                 N(record.setAside) + ";->;" + N(ok ? placed : record.installed));
      break;
    }
    case RepairStep::RestoreFromKeptCopy: {
      // A copy first: the updates folder keeps the previous version, as a whole run would.
      const bool ok = PutBackFile(keptCopyPath, record.installed, /*keepSource=*/true, &placed);
      LogFreeName(folder, record.installed, placed);
      LogOutcome(folder, ok, "REPARACION_RESTAURADO",
                 N(keptCopyPath) + ";->;" + N(ok ? placed : record.installed));
      break;
    }
    case RepairStep::RestoreReplacedFile: {
      const bool ok = PutBackFile(record.replacedKept, record.package, false, &placed);
      LogFreeName(folder, record.package, placed);
      LogOutcome(folder, ok, "REPARACION_RESTAURADO",
                 N(record.replacedKept) + ";->;" + N(ok ? placed : record.package));
      const std::wstring keptFolder = record.replacedKept.substr(0, record.replacedKept.find_last_of(L'\\'));
      ::RemoveDirectoryW(ForFileSystem(keptFolder).c_str());  // only when emptied
      break;
    }
    case RepairStep::DeleteStagingCopy:
      for (const std::wstring& named : {record.installed, record.package}) {
        const std::wstring staging = StagingNameOf(named);
        if (named.empty() || !IsExistingFile(staging)) continue;  // gone: an executable package is both
        SetAttributesWaiting(staging, FILE_ATTRIBUTE_NORMAL);
        LogOutcome(folder, DeleteFileWaiting(staging), "REPARACION_COPIA_TEMPORAL_ELIMINADA", N(staging));
      }
      break;
    case RepairStep::KeepSetAsideAsPrevious: {
      const std::wstring name = record.installed.substr(record.installed.find_last_of(L'\\') + 1);
      std::wstring destination, destinationFolder;
      const bool moved = MovePreviousVersion(folder, record.setAside, StripExtension(name), &destination,
                                             &destinationFolder);
      Log(folder, "REPARACION_ANTERIOR_A_ACTUALIZACIONES;" + N(record.setAside) + ";->;" +
                      (moved ? N(destination) : std::string("ERROR")));
      if (moved) {
        CopyDataFilesAndArchive(folder, destinationFolder,
                                record.isZip ? "COPIA_PATRONES_RESUMEN_ZIP;" : "COPIA_PATRONES_RESUMEN;");
      }
      break;
    }
    case RepairStep::DeletePackage:
      ::SetFileAttributesW(ForFileSystem(record.package).c_str(), FILE_ATTRIBUTE_NORMAL);
      LogOutcome(folder, DeleteFileWaiting(record.package), "REPARACION_PAQUETE_ELIMINADO",
                 N(record.package));
      break;
    case RepairStep::RemoveExtractionFolder:
      LogOutcome(folder, DeleteFolderTree(record.extractionFolder), "REPARACION_CARPETA_ELIMINADA",
                 N(record.extractionFolder));
      break;
    case RepairStep::RemoveExtractionFolderIfEmpty:
      if (IsFolderEmpty(record.extractionFolder)) {
        LogOutcome(folder, RemoveFolderWaiting(record.extractionFolder),
                   "REPARACION_CARPETA_VACIA_ELIMINADA", N(record.extractionFolder));
      }
      break;
  }
}

}  // namespace

std::vector<RepairStep> PlanRepair(const UpdateRecord& record, const RepairFacts& facts) {
  std::vector<RepairStep> steps;
  if (facts.partialExists) steps.push_back(RepairStep::DeletePartial);
  // First: a copy of the old program put back by a copy takes the same beside name.
  if (facts.stagingCopyExists) steps.push_back(RepairStep::DeleteStagingCopy);

  // The program: its old version is known by the identity it had before the run.
  bool newInPlace = false;
  const FileIdentity& old = record.installedBefore;
  if (!record.installed.empty() && old.exists) {
    if (facts.installedMissing) {
      if (facts.setAside == old) {
        steps.push_back(RepairStep::RestoreFromSetAside);
      } else if (facts.keptCopy == old) {
        steps.push_back(RepairStep::RestoreFromKeptCopy);
      }
    } else if (facts.installed.exists && facts.installed != old) {
      newInPlace = true;
      // The set-aside is the run's own only if it is the old program, not a leftover of before.
      if (facts.setAside == old && facts.setAside != record.setAsideBefore) {
        steps.push_back(RepairStep::KeepSetAsideAsPrevious);
      }
    }
  }

  // A file of the user's the package was to replace, kept in the updates folder, goes back where
  // the package never arrived.
  if (!record.replacedKept.empty() && facts.packageMissing && facts.replacedKept.exists &&
      facts.replacedKept == record.packageBefore) {
    steps.push_back(RepairStep::RestoreReplacedFile);
  }

  if (record.isZip) {
    // The package is the run's own download when it differs from what stood there before.
    if (facts.package.exists && facts.package != record.packageBefore) steps.push_back(RepairStep::DeletePackage);
    if (facts.extractionFolderExists && !record.extractionFolderExisted) {
      steps.push_back(newInPlace ? RepairStep::RemoveExtractionFolderIfEmpty : RepairStep::RemoveExtractionFolder);
    }
  }
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
    Log(programFolder, "REPARACION_REGISTRO_DESCARTADO;" + N(path));
    RemoveUpdateRecord(programFolder);
    return;
  }
  Log(programFolder, "REPARACION_ACTUALIZACION_INTERRUMPIDA;" + record.packageUrl + ";" + N(record.package));
  std::wstring keptCopyPath;
  const RepairFacts facts = LookAt(record, keptCopyPath);
  for (RepairStep step : PlanRepair(record, facts)) Carry(programFolder, record, keptCopyPath, step);
  // The record goes only once the program is under its own name: otherwise the next start tries again.
  if (!record.installed.empty() && record.installedBefore.exists && !IsExistingFile(record.installed)) {
    Log(programFolder, "REPARACION_PENDIENTE;" + N(record.installed) + ";motivo=PROGRAMA_AUSENTE");
    return;
  }
  RemoveUpdateRecord(programFolder);
  Log(programFolder, "REPARACION_FIN");
}

}  // namespace brivon
