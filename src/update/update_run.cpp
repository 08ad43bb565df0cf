#include "update/update_run.h"

#include <windows.h>

#include <vector>

#include "common/activity_log.h"
#include "common/log_line.h"
#include "common/long_path.h"
#include "common/path_name.h"
#include "common/program_folder.h"
#include "common/text.h"
#include "files/disk_space.h"
#include "files/download_proof.h"
#include "files/durable_file.h"
#include "files/file_hash.h"
#include "files/folder_lock.h"
#include "files/program_replacement_check.h"
#include "files/sharing_waits.h"
#include "files/zip_directory.h"
#include "sevenzip/archive_listing.h"
#include "sevenzip/extraction.h"
#include "update/data_copies_archive.h"
#include "update/executable_search.h"
#include "update/file_moves.h"
#include "update/package_download.h"
#include "update/package_naming.h"
#include "update/previous_versions.h"
#include "update/update_plan.h"
#include "update/update_record.h"

namespace brivon {
namespace {

// Setting the program aside never replaces anything: what stood under the name was kept first.
constexpr DWORD kSetAsideFlags = MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH;

// What the stages share: the plan made before anything was touched, the record a repair reads,
// and what each stage leaves for the next.
struct Run {
  std::wstring folder;
  std::string url;
  UpdateProgressFn progress;
  UpdatePlan plan{};
  UpdateRecord record{};
  std::wstring partial{};                // the download, before it takes its name
  bool fetched = false;                  // the download stored the partial file: the run's own
  bool extracted = false;
  std::vector<std::wstring> candidates{};  // a ZIP's executables, in search order
  // The swap: the program replaced, its set-aside name, and whether the new one took its name.
  std::wstring installed{}, setAside{}, stem{};
  bool swapped = false;
  bool programHome = false;  // the new program took the name, or the old one went back to it

  void Downloads(const std::string& text) const { AppendActivityLog(folder, kDownloadsLog, text); }
  void Extractions(const std::string& text) const { AppendActivityLog(folder, kExtractionsLog, text); }
  // Tells the watcher what the run does now; a run nobody watches reports to no one.
  void Report(UpdateStage stage, uint64_t soFar = 0, uint64_t total = 0) const {
    if (progress) progress(UpdateProgress{stage, soFar, total});
  }
};

void LogError(const Run& run, LogLine line, DWORD error) { run.Downloads(line.Err(error)); }

void LogRecordError(const Run& run, DWORD error) {
  LogError(run, LogLine("ERROR_REGISTRO_ACTUALIZACION").Field(UpdateRecordPath(run.folder)), error);
}

// Puts a set-aside program back under its name: the program folder must never lack the program.
// Only onto the name proved free: where it is taken (or cannot be looked up) the program stays
// where the record says it is, and a later start brings it back once the name is free.
void RestorePrevious(Run& run, const std::wstring& from, const std::wstring& to, bool keepSource = false) {
  switch (PutBackProgram(from, to, keepSource)) {
    case PutBackResult::Done:
      run.programHome = true;
      run.Downloads(LogLine("RESTAURADO_EJECUTABLE_ANTERIOR").Field(from).To(to));
      break;
    case PutBackResult::NameNotFree:
      LogError(run, LogLine("RESTAURACION_APLAZADA").Field(from).To(to), ::GetLastError());
      break;
    case PutBackResult::Failed:
      LogError(run, LogLine("ERROR_RESTAURAR_EJECUTABLE_ANTERIOR").Field(from).To(to), ::GetLastError());
      break;
  }
}

// Puts a file of the user's a package was to replace back under its name; never over a file found
// there, which keeps it, and what goes back takes a free name beside.
void PutBackUserFile(const Run& run, const std::wstring& from, const std::wstring& to) {
  std::wstring placed;
  if (PutBackFile(from, to, false, &placed)) {
    if (placed != to) run.Downloads(LogLine("RESTAURADO_NOMBRE_LIBRE").Field(to).To(placed));
    run.Downloads(LogLine("RESTAURADO_EJECUTABLE_ANTERIOR").Field(from).To(placed));
  } else {
    LogError(run, LogLine("ERROR_RESTAURAR_EJECUTABLE_ANTERIOR").Field(from).To(to), ::GetLastError());
  }
}

// ---------------------------------------------------------------------------------------------
// Fetch: the whole package on the disk, the program untouched; a ZIP unpacked beside it.

// A ZIP is unpacked only when what it holds fits on the drive with room to spare, and is not far
// larger than the package (a bomb, or nothing an update needs). Its size comes from the ZIP's own
// directory; a package that does not read as one (another kind 7-Zip unpacks all the same) is
// listed by 7-Zip. A listing 7-Zip cannot make is left to the extraction, which fails with 7-Zip's
// own code.
bool RoomToUnpack(const Run& run) {
  uint64_t unpacked = 0, freeBytes = 0;
  unsigned long code = 0;
  if (!ReadZipUnpackedSize(run.plan.target, &unpacked) &&
      !ReadUnpackedSize(run.folder, run.plan.target, &unpacked, &code)) {
    return true;
  }
  const uint64_t packed = IdentityOf(run.plan.target).size;
  std::string refusal;
  if (!WithinExpansionCap(packed, unpacked)) {
    refusal = "EXPANSION;paquete=" + std::to_string(packed) + ";descomprimido=" + std::to_string(unpacked);
  } else if (ReadFreeBytes(run.folder, &freeBytes) &&
             !LeavesEnoughSpace(freeBytes, unpacked, FreeSpaceMargin(freeBytes))) {
    // The margin is fixed from what is free now, before the unpacking begins.
    refusal = "SIN_ESPACIO;necesario=" + std::to_string(unpacked) + ";libre=" + std::to_string(freeBytes);
  }
  if (refusal.empty()) return true;
  run.Downloads(LogLine("EXTRACCION_RECHAZADA").Field(run.plan.target).Field("motivo=" + refusal));
  if (refusal.rfind("SIN_ESPACIO", 0) == 0) run.Report(UpdateStage::NeedsFreeSpace);
  return false;
}

// The downloaded ZIP takes the package's name, never over a file saved there meanwhile (it goes
// under a free name beside then). The record knows it by its identity first: only that file is
// ever deleted, by the run or by the repair. It is only unpacked and then deleted: it takes its
// name without waiting for a flush.
bool StoreZipPackage(Run& run) {
  run.record.packageDownloaded = IdentityOf(run.partial);
  if (!WriteUpdateRecord(run.record)) {
    LogRecordError(run, ::GetLastError());
    return false;
  }
  bool stored = RenameUnflushed(run.partial, run.plan.target, 0);
  if (!stored && (::GetLastError() == ERROR_ALREADY_EXISTS || ::GetLastError() == ERROR_FILE_EXISTS)) {
    const std::wstring free = FreeNameBeside(run.plan.target);
    // The extraction folder follows the package's name.
    const std::wstring folder = free.empty() ? std::wstring() : FreeNameBeside(StripExtension(free), true);
    if (folder.empty()) {
      LogError(run, LogLine("ERROR_PAQUETE_NOMBRE_LIBRE").Field(run.plan.target), ERROR_ALREADY_EXISTS);
      return false;
    }
    run.Downloads(LogLine("PAQUETE_NOMBRE_LIBRE").Field(run.plan.target).To(free));
    run.plan.target = run.record.package = free;
    run.record.packageBefore = {};
    run.plan.extractionFolder = run.record.extractionFolder = folder;
    run.record.extractionFolderExisted = false;
    if (!WriteUpdateRecord(run.record)) {
      LogRecordError(run, ::GetLastError());
      return false;
    }
    stored = RenameUnflushed(run.partial, run.plan.target, 0);
  }
  if (!stored) LogError(run, LogLine("ERROR_GUARDAR"), ::GetLastError());
  return stored;
}

// The extraction folder is made here, new, before 7-Zip runs: a folder of its name made meanwhile
// (the user's) is never unpacked into but kept, and 7-Zip unpacks beside it. The record says so
// before 7-Zip starts: only a folder the run made is ever deleted.
bool MakeExtractionFolder(Run& run) {
  std::wstring& folder = run.plan.extractionFolder;
  while (!::CreateDirectoryW(ForFileSystem(folder).c_str(), nullptr)) {
    const DWORD error = ::GetLastError();
    const std::wstring free =
        error == ERROR_ALREADY_EXISTS ? FreeNameBeside(StripExtension(run.plan.target), true) : std::wstring();
    if (free.empty() || free == folder) {
      LogError(run, LogLine("ERROR_CARPETA_EXTRACCION_LIBRE").Field(folder), error);
      return false;
    }
    run.Downloads(LogLine("CARPETA_EXTRACCION_LIBRE").Field(folder).To(free));
    folder = free;
  }
  run.record.extractionFolder = folder;
  run.record.extractionFolderExisted = false;
  run.record.extractionStarted = true;
  if (!WriteUpdateRecord(run.record)) {
    LogRecordError(run, ::GetLastError());
    run.record.extractionStarted = false;
    ::RemoveDirectoryW(ForFileSystem(folder).c_str());
    return false;
  }
  return true;
}

bool Fetch(Run& run) {
  run.Report(UpdateStage::Downloading);
  HttpProgressFn downloaded;
  if (run.progress) {
    downloaded = [&](uint64_t soFar, uint64_t total) { run.Report(UpdateStage::Downloading, soFar, total); };
  }
  run.partial = run.plan.target + kPartialSuffix;
  DownloadDetail detail;
  const DownloadResult result =
      FetchPackage(run.url, run.partial, &detail, kPackageReadSize, downloaded);
  if (result == DownloadResult::NoRoom) {
    // Refused for its announced length before a byte was written, or stopped with the margin
    // still free; nothing of it stays.
    if (detail.hasLength && detail.written == 0) {
      run.Downloads(LogLine("DESCARGA_RECHAZADA")
                        .Field(run.plan.target)
                        .Field("motivo=SIN_ESPACIO")
                        .Named("necesario", detail.announced)
                        .Named("libre", detail.freeBytes)
                        .Named("margen", detail.margin));
    } else {
      run.Downloads(LogLine("DESCARGA_DETENIDA")
                        .Field(run.plan.target)
                        .Field("motivo=SIN_ESPACIO")
                        .Named("descargado", detail.written)
                        .Named("libre", detail.freeBytes)
                        .Named("margen", detail.margin));
    }
    // The last thing the window says: the person at the desk learns why nothing changed.
    run.Report(UpdateStage::NeedsFreeSpace);
    return false;
  }
  if (result != DownloadResult::Stored) {
    // The marker first, as ever; the code after it tells support why (an HTTP status or a system
    // or WinINet error, never 0).
    // Asked again with the person's sign-in for the office's proxy, and refused all the same: the
    // server itself wants a sign-in (401), or the proxy took none (407).
    if (detail.signInRetried && detail.http == HttpGetResult::BadStatus) {
      run.Downloads(LogLine("IDENTIFICACION_PROXY_FALLIDA").Field(run.url).Named("estado", detail.httpStatus));
    }
    LogError(run, LogLine(result == DownloadResult::SaveFailed ? "ERROR_GUARDAR" : "ERROR_DESCARGA"),
             detail.error != 0 ? detail.error : ERROR_HTTP_INVALID_SERVER_RESPONSE);
    return false;
  }
  run.fetched = true;  // the run's own until it takes its name
  // Without a length, a connection closed cleanly mid-file reads as the end: only the file itself
  // can prove that it is whole. The clean-up deletes what came.
  const bool zip = run.plan.kind == PackageKind::Zip;
  const DownloadEnd end = JudgePackageEnd(zip, detail.hasLength, run.partial);
  if (end != DownloadEnd::Proven) {
    run.Downloads(LogLine("DESCARGA_RECHAZADA")
                      .Field(run.plan.target)
                      .Field(end == DownloadEnd::ZipEndMissing ? "motivo=ZIP_INCOMPLETO" : "motivo=SIN_LONGITUD")
                      .Named("recibido", detail.bytes));
    return false;
  }
  if (!zip) return true;

  if (!StoreZipPackage(run)) return false;
  // The strip says so before the log does: what the log shows has already been said.
  run.Report(UpdateStage::Extracting);
  run.Downloads(LogLine("DESCARGA").Field(run.url).Field(run.plan.target));

  if (run.plan.extractionFolder != StripExtension(run.plan.target)) {
    run.Downloads(
        LogLine("CARPETA_EXTRACCION_LIBRE").Field(StripExtension(run.plan.target)).To(run.plan.extractionFolder));
  }
  if (!RoomToUnpack(run) || !MakeExtractionFolder(run)) return false;
  const std::wstring& extractionFolder = run.plan.extractionFolder;
  std::function<void(int)> extracting;
  if (run.progress) {
    extracting = [&](int percent) { run.Report(UpdateStage::Extracting, static_cast<uint64_t>(percent), 100); };
  }
  unsigned long exitCode = 0;
  run.extracted =
      ExtractArchive(run.folder, run.plan.target, extractionFolder, &exitCode, kChildProcessTimeoutMs, extracting);
  run.Extractions(LogLine("UNZIP_7ZA")
                      .Field(run.plan.target)
                      .To(extractionFolder)
                      .Field(run.extracted ? "OK" : "ERROR")
                      .Named("ec", exitCode));
  if (!run.extracted) return false;
  CollectExecutables(extractionFolder, run.candidates);
  if (run.candidates.empty()) run.Downloads("ZIP_SIN_EXE");
  return true;
}

// ---------------------------------------------------------------------------------------------
// Swap: the installed program set aside and the new one moved in, back to back, so that the
// program is missing from its name only for the moment between two renames.

// A file already under the set-aside name may be another program or a version an interrupted run
// left: it is kept under a free name beside, never deleted. False when it could not be kept.
bool KeepEarlierSetAside(Run& run, const std::wstring& setAside) {
  if (!IsExistingFile(setAside)) return true;
  const std::wstring kept = FreeNameBeside(setAside);
  if (kept.empty() || !MoveFileWaiting(setAside, kept, MOVEFILE_WRITE_THROUGH)) {
    LogError(run, LogLine("ERROR_CONSERVAR_2_EXISTENTE").Field(setAside),
             kept.empty() ? static_cast<DWORD>(ERROR_FILE_EXISTS) : ::GetLastError());
    return false;
  }
  run.Downloads(LogLine("CONSERVADO_2_EXISTENTE").Field(setAside).To(kept));
  run.record.setAsideBefore = IdentityOf(setAside);  // nothing there now: what appears is the run's own
  return WriteUpdateRecord(run.record);
}

// Sets installed aside under setAside, once the record names both. False when the program stays
// where it is, with its line logged (errorMarker for a refused rename).
bool SetAside(Run& run, const std::wstring& installed, const std::wstring& setAside, const char* errorMarker) {
  // Known before it is set aside: a repair tells the old program by these facts.
  run.record.installed = installed;
  run.record.installedBefore = IdentityOf(installed);
  run.record.setAside = setAside;
  run.record.setAsideBefore = IdentityOf(setAside);
  if (!WriteUpdateRecord(run.record)) {
    LogError(run, LogLine("ERROR_REGISTRO_ACTUALIZACION").Field(UpdateRecordPath(run.folder)), ::GetLastError());
    return false;
  }
  if (!KeepEarlierSetAside(run, setAside)) return false;
  if (!MoveFileWaiting(installed, setAside, kSetAsideFlags)) {
    LogError(run, LogLine(errorMarker).Field(installed), ::GetLastError());
    return false;
  }
  run.installed = installed;
  run.setAside = setAside;
  return true;
}

// Moves the new executable (already on the disk) under the program's name, never over a file
// put there meanwhile. Its own rename says whether it is in: a copy (a held source) takes the name
// whole or not at all.
bool MoveIn(Run& run, const std::wstring& incoming) {
  run.swapped = MoveFileWithRetry(incoming, run.installed, FlushRule::Always);
  run.programHome = run.swapped;
  return run.swapped;
}

// The new program on the disk, and what it is, before the program is set aside: the record then
// knows it by its content, and a repair takes for the new program only a file of that content.
// A holder that keeps it from its flush past the wait (a backup or sync client) stops the swap.
bool ReadyNewProgram(Run& run, const std::wstring& incoming) {
  if (!FlushFileToDisk(incoming)) return false;
  run.record.newProgram = IdentityOf(incoming);
  run.record.newProgramSha256 = Sha256HexOfFile(incoming);
  return !run.record.newProgramSha256.empty();
}

void SwapExecutable(Run& run) {
  const std::wstring& target = run.plan.target;
  run.Report(UpdateStage::Installing);  // a large program takes a moment to check
  // Free of a scanner's hold, checked, and on the disk before the program is set aside: the
  // program is then missing only between two renames.
  if (!WaitUntilMovable(run.partial)) {
    LogError(run, LogLine("ERROR_GUARDAR"), ::GetLastError());
    return;
  }
  if (!NewProgramAllowed(run.folder, target, run.partial, target)) return;
  if (!ReadyNewProgram(run, run.partial)) {
    LogError(run, LogLine("ERROR_GUARDAR"), ::GetLastError());
    return;
  }
  if (!SetAside(run, target, run.plan.setAside, "ERROR_RENOMBRAR_A_2")) {
    // A program that is not set aside has no copy: nothing may replace it.
    run.Downloads(LogLine("DESCARGA_OMITIDA").Field(target).Field("motivo=EJECUTABLE_NO_APARTADO"));
    return;
  }
  run.Downloads(LogLine("RENOMBRADO_A_2").Field(target).Field(run.setAside));
  run.stem = StripExtension(NameAfterLastSeparator(target));
  if (MoveIn(run, run.partial)) {
    run.Downloads(LogLine("DESCARGA").Field(run.url).Field(target));
  } else {
    LogError(run, LogLine("ERROR_GUARDAR"), ::GetLastError());
    RestorePrevious(run, run.setAside, target);
  }
}

void SwapFromZip(Run& run) {
  run.Report(UpdateStage::Installing);
  for (const std::wstring& candidate : run.candidates) {
    const std::wstring name = NameAfterLastSeparator(candidate);
    const std::wstring root = run.folder + L"\\" + name;
    if (!IsExistingFileByLongName(root)) continue;
    if (!MayReplaceFromPackage(name)) {
      run.Downloads(LogLine("EJECUTABLE_OMITIDO").Field(candidate).Field("motivo=HERRAMIENTA_DE_ARCHIVO"));
      continue;
    }
    if (!WaitUntilMovable(candidate)) {
      LogError(run, LogLine("ERROR_MOVER_EXE_NUEVO_A_RAIZ").Field(candidate).To(root), ::GetLastError());
      return;
    }
    if (!NewProgramAllowed(run.folder, root, candidate, root)) continue;
    if (!ReadyNewProgram(run, candidate)) {
      LogError(run, LogLine("ERROR_MOVER_EXE_NUEVO_A_RAIZ").Field(candidate).To(root), ::GetLastError());
      return;
    }
    if (!SetAside(run, root, run.folder + L"\\" + StripExtension(name) + L"2.exe", "ERROR_RENOMBRAR_A_2_ZIP")) {
      continue;
    }
    run.Downloads(LogLine("RENOMBRADO_A_2_ZIP").Field(root).To(run.setAside));
    run.stem = StripExtension(name);
    if (MoveIn(run, candidate)) {
      run.Downloads(LogLine("EXE_NUEVO_EN_RAIZ_OK").Field(candidate).To(root));
    } else {
      LogError(run, LogLine("ERROR_MOVER_EXE_NUEVO_A_RAIZ").Field(candidate).To(root), ::GetLastError());
      RestorePrevious(run, run.setAside, root);
    }
    return;
  }
  run.Downloads("ZIP_EXE_SIN_MATCH_EN_RAIZ");
}

// A file of the user's the package replaces goes into a new folder of the updates folder, named in
// the record before it leaves its name: cut off at any point, the repair knows where it is. False
// when it stays where it is (then the package goes beside it), or when the record could not be
// written (stop: nothing is stored).
bool KeepReplacedFile(Run& run, bool* stop, std::wstring* keptFolder) {
  *stop = false;
  const std::wstring& target = run.plan.target;
  UpdateFolderPlace place;
  if (!MakeUpdateFolderPlace(run.folder, NameAfterLastSeparator(target), &place)) return false;
  run.record.replacedKept = place.path;
  if (!WriteUpdateRecord(run.record)) {
    LogRecordError(run, ::GetLastError());
    ::RemoveDirectoryW(ForFileSystem(place.folder).c_str());
    *stop = true;
    return false;
  }
  // The user's file may have been saved a moment ago: on the disk before it moves.
  if (!MoveIntoUpdateFolder(run.folder, target, place, FlushRule::Always)) {
    run.record.replacedKept.clear();
    WriteUpdateRecord(run.record);  // a record naming a file that never moved misleads no repair
    ::RemoveDirectoryW(ForFileSystem(place.folder).c_str());
    return false;
  }
  *keptFolder = place.folder;
  return true;
}

// A package that replaces no program: stored under its name, a file of the user's it replaces
// kept first in the updates folder.
void Store(Run& run) {
  std::wstring& target = run.plan.target;
  // On the disk first (seconds for a large package): the user's file then leaves its name only
  // for the moment before one rename, and a file the user's program writes meanwhile is kept.
  if (!FlushFileToDisk(run.partial)) {
    LogError(run, LogLine("ERROR_GUARDAR"), ::GetLastError());
    return;
  }
  std::wstring replacedKept, replacedFolder;
  if (run.plan.keepsReplaced) {
    bool stop = false;
    const bool kept = KeepReplacedFile(run, &stop, &replacedFolder);
    if (stop) return;
    if (kept) replacedKept = run.record.replacedKept;  // until the package is in, the file exists only there
    LogLine line("ARCHIVO_REEMPLAZADO_A_ACTUALIZACIONES");
    line.Field(target);
    run.Downloads(kept ? line.To(replacedKept) : line.Field("->").Field("ERROR"));
    if (!kept) {  // not kept, not replaced: the package goes beside it
      const std::wstring free = FreeNameBeside(target);
      if (free.empty()) return;
      run.Downloads(LogLine("PAQUETE_NOMBRE_LIBRE").Field(target).To(free));
      target = free;
      run.record.package = free;
      run.record.packageBefore = IdentityOf(free);
      WriteUpdateRecord(run.record);
    }
  }
  // Never over a file: one that appeared under the name since stays, and the package goes beside.
  bool stored = RenameFlushed(run.partial, target, 0);
  if (!stored && (::GetLastError() == ERROR_ALREADY_EXISTS || ::GetLastError() == ERROR_FILE_EXISTS)) {
    const std::wstring free = FreeNameBeside(target);
    if (!free.empty()) {
      run.Downloads(LogLine("PAQUETE_NOMBRE_LIBRE").Field(target).To(free));
      target = free;
      run.record.package = free;
      run.record.packageBefore = IdentityOf(free);
      WriteUpdateRecord(run.record);
      stored = RenameFlushed(run.partial, target, 0);
    }
  }
  if (stored) {
    run.Downloads(LogLine("DESCARGA").Field(run.url).Field(target));
  } else {
    LogError(run, LogLine("ERROR_GUARDAR"), ::GetLastError());
    if (!replacedKept.empty() && IsMissing(target)) {
      PutBackUserFile(run, replacedKept, target);
      RemoveFolderWaiting(replacedFolder);  // only when emptied
    }
    return;
  }
  if (!replacedKept.empty()) {
    run.Report(UpdateStage::KeepingPrevious);
    CopyDataFilesAndArchive(run.folder, replacedFolder, "COPIA_PATRONES_RESUMEN;");
  }
}

// ---------------------------------------------------------------------------------------------
// Keep the previous version: with the new program in, the old one goes to the updates folder
// with copies of the data files, and the folder is archived.

void KeepPrevious(Run& run) {
  const bool zip = run.plan.kind == PackageKind::Zip;
  run.Report(UpdateStage::KeepingPrevious);
  // Named in the record before it moves: cut off at any point, the repair knows where it is.
  UpdateFolderPlace place;
  bool moved = MakeUpdateFolderPlace(run.folder, run.stem + L".exe", &place);
  if (moved) {
    run.record.keptCopy = place.path;
    moved = WriteUpdateRecord(run.record);
    if (!moved) {
      LogRecordError(run, ::GetLastError());
      run.record.keptCopy.clear();
    }
    // The old program may be running from its set-aside name.
    moved = moved && MoveIntoUpdateFolder(run.folder, run.setAside, place, FlushRule::UnlessRunningProgram);
    if (!moved) ::RemoveDirectoryW(ForFileSystem(place.folder).c_str());
  }
  LogLine line(zip ? "ARCHIVO_ANTERIOR_A_ACTUALIZACIONES_ZIP" : "ARCHIVO_ANTERIOR_A_ACTUALIZACIONES");
  line.Field(run.setAside);
  run.Downloads(moved ? line.To(place.path) : line.Field("->").Field("ERROR"));
  if (moved) {
    CopyDataFilesAndArchive(run.folder, place.folder,
                            zip ? "COPIA_PATRONES_RESUMEN_ZIP;" : "COPIA_PATRONES_RESUMEN;");
  }
}

// ---------------------------------------------------------------------------------------------
// Clean up what the run made, on every way out.

void CleanUp(Run& run) {
  if (run.fetched && IsExistingFile(run.partial)) DeleteFileWaiting(run.partial);
  if (run.plan.kind != PackageKind::Zip) return;
  // The package only as it was downloaded: a file saved under its name meanwhile is someone else's.
  const std::wstring& package = run.plan.target;
  if (run.record.packageDownloaded.exists && IdentityOf(package) == run.record.packageDownloaded) {
    if (DeleteFileWaiting(package)) {
      run.Downloads(LogLine("LIMPIEZA_OK").Field("ZIP_ELIMINADO").Field(package));
    } else {
      LogError(run, LogLine("LIMPIEZA_ERROR").Field("ZIP_NO_ELIMINADO").Field(package), ::GetLastError());
    }
  }
  // The folder only once the run made it for unpacking.
  const std::wstring& folder = run.plan.extractionFolder;
  if (!run.record.extractionStarted || ::GetFileAttributesW(ForFileSystem(folder).c_str()) == INVALID_FILE_ATTRIBUTES) return;
  if (!run.extracted) {  // half unpacked, never installed from: all of it goes
    if (DeleteFolderTree(folder)) {
      run.Downloads(LogLine("LIMPIEZA_OK").Field("CARPETA_EXTRACCION_ELIMINADA").Field(folder));
    } else {
      LogError(run, LogLine("LIMPIEZA_ERROR").Field("CARPETA_EXTRACCION_NO_ELIMINADA").Field(folder), ::GetLastError());
    }
  } else if (IsFolderEmpty(folder)) {
    if (RemoveFolderWaiting(folder)) {
      run.Downloads(LogLine("LIMPIEZA_OK").Field("CARPETA_VACIA_ELIMINADA").Field(folder));
    } else {
      LogError(run, LogLine("LIMPIEZA_ERROR").Field("CARPETA_NO_ELIMINADA").Field(folder), ::GetLastError());
    }
  }
}

// However the run ends (its last stage, a failure, an exception): the program is under its own
// name, and only then is the record removed. Otherwise it stays for the next start's repair.
void EndRun(Run& run) noexcept {
  try {
    // Only a name proved free is put back to: a file put there meanwhile, or a lookup that failed
    // (a share reconnecting), proves nothing, and the record stays for a later start.
    if (!run.installed.empty() && !run.programHome && IsMissing(run.installed)) {
      if (IsExistingFile(run.setAside)) {
        RestorePrevious(run, run.setAside, run.installed);
      } else if (!run.record.keptCopy.empty() && IsExistingFile(run.record.keptCopy)) {
        RestorePrevious(run, run.record.keptCopy, run.installed, /*keepSource=*/true);
      }
    }
    if (run.installed.empty() || run.programHome) {
      RemoveUpdateRecord(run.folder);
    } else {
      run.Downloads(LogLine("REGISTRO_CONSERVADO").Field(run.installed).Field("motivo=PROGRAMA_AUSENTE"));
    }
  } catch (...) {
    // The record stays: the next start puts the program back.
  }
}

struct RunEnd {
  Run& run;
  ~RunEnd() { EndRun(run); }
};

}  // namespace

void RunUpdateIn(const std::wstring& programFolder, const std::string& packageUrl, const UpdateProgressFn& progress) {
  Run run{programFolder, packageUrl, progress};
  if (packageUrl.empty()) {
    run.Downloads("URL_VACIA");
    return;
  }
  // Only one start at a time works in the folder (any path, any machine).
  FolderLock lock(programFolder);
  if (!lock.held()) {
    LogError(run, LogLine("ACTUALIZACION_OMITIDA").Field("CARPETA_EN_USO").Field(FolderLockPath(programFolder)),
             lock.error());
    return;
  }

  // An earlier update's record still there is a repair not done (or one whose record cannot be
  // looked up): a program it set aside may be where only that record says. Nothing is written
  // over it: this update waits for a start whose repair removes it.
  const std::wstring recordPath = UpdateRecordPath(programFolder);
  const DWORD recordAttributes = ::GetFileAttributesW(ForFileSystem(recordPath).c_str());
  const DWORD recordLookup = recordAttributes == INVALID_FILE_ATTRIBUTES ? ::GetLastError() : ERROR_SUCCESS;
  if (!IsMissingAnswer(recordAttributes, recordLookup)) {
    LogLine line("ACTUALIZACION_OMITIDA");
    line.Field("REPARACION_PENDIENTE").Field(recordPath);
    run.Downloads(recordLookup != ERROR_SUCCESS ? line.Err(recordLookup) : line);
    return;
  }

  // Plan: where the package goes and what it replaces, before anything is touched.
  const std::wstring fileName = PackageFileNameFromUrl(packageUrl);
  run.plan = PlanUpdate(programFolder, fileName, IsTaken, IsExistingFileByLongName);
  if (run.plan.refusal) {
    LogError(run, LogLine(run.plan.refusal).Field(programFolder + L"\\" + fileName),
             run.plan.kind == PackageKind::Zip ? ERROR_ALREADY_EXISTS : ERROR_FILE_EXISTS);
    return;
  }
  if (!run.plan.ownName.empty()) {
    run.Downloads(LogLine("PAQUETE_NOMBRE_LIBRE").Field(run.plan.ownName).To(run.plan.target));
  }

  // The record, before the first change to the folder: what a repair needs if the run is cut off.
  // An update it cannot protect does not start.
  run.record = RecordOfPlan(run.plan, programFolder, packageUrl, IsTaken, IdentityOf);
  run.record.folderId = FolderIdOf(programFolder);
  if (!WriteUpdateRecord(run.record)) {
    LogRecordError(run, ::GetLastError());  // what it wrote beside is gone; nothing else was there
    return;
  }
  RunEnd end{run};

  // Fetch, check and swap, keep the previous version, clean up.
  if (Fetch(run)) {
    if (run.plan.kind == PackageKind::Zip) {
      SwapFromZip(run);
    } else if (run.plan.replacesProgram) {
      SwapExecutable(run);
    } else {
      Store(run);
    }
    if (run.swapped) KeepPrevious(run);
  }
  CleanUp(run);
}

void RunUpdate(const std::string& packageUrl, const UpdateProgressFn& progress) {
  RunUpdateIn(GetProgramFolder(), packageUrl, progress);
}

}  // namespace brivon
