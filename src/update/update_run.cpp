#include "update/update_run.h"

#include <windows.h>

#include <cwctype>
#include <vector>

#include "common/text.h"
#include "common/activity_log.h"
#include "common/durable_file.h"
#include "common/program_folder.h"
#include "update/folder_archive.h"
#include "update/executable_search.h"
#include "archive/extraction.h"
#include "update/file_moves.h"
#include "update/package_download.h"
#include "update/package_naming.h"
#include "update/previous_versions.h"
#include "update/signature_check.h"
#include "update/update_record.h"

namespace brivon {
namespace {

// Setting the program aside never replaces anything: what stood under the name was kept first.
constexpr DWORD kSetAsideFlags = MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH;

// A read returns only once its buffer is full (or the body ends), so progress is heard once per
// read: with the 4 MiB reads a slow line would show nothing for minutes, and a package smaller
// than one read nothing at all. Someone watching gets smaller reads; a link is rarely faster than
// what they cost.
constexpr DWORD kWatchedReadSize = 256 * 1024;

class RunLog {
 public:
  explicit RunLog(const std::wstring& programFolder) : folder_(programFolder) {}
  void Downloads(const std::string& text) const { AppendActivityLog(folder_, kDownloadsLog, text); }
  void Extractions(const std::string& text) const { AppendActivityLog(folder_, kExtractionsLog, text); }

 private:
  std::wstring folder_;
};

std::string N(const std::wstring& path) { return NarrowLow8(path); }

// Tells the watcher what the run does now; a run nobody watches reports to no one.
void Report(const UpdateProgressFn& progress, UpdateStage stage, uint64_t soFar = 0, uint64_t total = 0) {
  if (progress) progress(UpdateProgress{stage, soFar, total});
}
std::string Code(unsigned long code) { return std::to_string(code); }

bool EndsWithExe(const std::wstring& name) {
  if (name.size() < 4) return false;
  std::wstring tail = name.substr(name.size() - 4);
  for (wchar_t& c : tail) c = static_cast<wchar_t>(std::towlower(c));
  return tail == L".exe";
}

std::wstring NameAfterLastSeparator(const std::wstring& path) {
  size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

// A file already under the set-aside name may be another program or a version an interrupted run
// left: it is kept under a free name beside, never deleted. False when it could not be kept (the
// program is then not set aside).
bool KeepEarlierSetAside(const std::wstring& setAside, UpdateRecord& record, const RunLog& log) {
  if (!IsExistingFile(setAside)) return true;
  const std::wstring kept = FreeNameBeside(setAside);
  if (kept.empty() || !::MoveFileExW(setAside.c_str(), kept.c_str(), MOVEFILE_WRITE_THROUGH)) {
    DWORD error = kept.empty() ? static_cast<DWORD>(ERROR_FILE_EXISTS) : ::GetLastError();
    log.Downloads("ERROR_CONSERVAR_2_EXISTENTE;" + N(setAside) + ";err=" + Code(error));
    return false;
  }
  log.Downloads("CONSERVADO_2_EXISTENTE;" + N(setAside) + ";->;" + N(kept));
  record.setAsideBefore = IdentityOf(setAside);  // nothing there now: what appears is the run's own
  WriteUpdateRecord(record);
  return true;
}

// Puts a set-aside executable back under its name: the program folder must never lack the program.
void PutBack(const std::wstring& from, const std::wstring& to, bool copy, const RunLog& log) {
  // A file held for a moment (a virus scanner) frees up soon: the move is retried.
  bool ok = copy ? CopyFileDurably(from, to) : MoveFileWithRetry(from, to);
  // Just after the data-file copies the disk is most likely full: a rename needs no space.
  if (!ok && copy) ok = MoveFileWithRetry(from, to);
  if (ok) {
    log.Downloads("RESTAURADO_EJECUTABLE_ANTERIOR;" + N(from) + ";->;" + N(to));
  } else {
    DWORD error = ::GetLastError();
    log.Downloads("ERROR_RESTAURAR_EJECUTABLE_ANTERIOR;" + N(from) + ";->;" + N(to) + ";err=" + Code(error));
  }
}

// Only a new executable of the installed program's own publisher takes its place. An installed
// program without a valid signature has no publisher to compare with: the update goes on as ever
// and the log says the new executable was not verified.
std::string RefusalReason(const SignatureFacts& installed, const SignatureFacts& fresh) {
  switch (fresh.state) {
    case SignatureState::Unsigned:
      return "SIN_FIRMA";
    case SignatureState::Invalid:
      return "FIRMA_NO_VALIDA;estado=" + Code(static_cast<unsigned long>(fresh.status));
    case SignatureState::Valid:
      break;
  }
  return fresh.subject != installed.subject ? "OTRO_FIRMANTE" : "OTRO_EMISOR";
}

bool PublisherAllows(const std::wstring& installed, const std::wstring& candidate, const std::wstring& shownAs,
                     const RunLog& log) {
  const SignatureFacts old = ReadSignature(installed);
  const SignatureFacts fresh = ReadSignature(candidate);
  const std::string signer = ";firmante=" + N(fresh.subject);
  switch (JudgePublisher(old, fresh)) {
    case PublisherVerdict::SamePublisher:
      log.Downloads("EJECUTABLE_VERIFICADO;" + N(shownAs) + signer);
      return true;
    case PublisherVerdict::Unverified:
      log.Downloads("EJECUTABLE_NO_VERIFICADO;" + N(shownAs) + signer);
      return true;
    case PublisherVerdict::Refused:
      break;
  }
  log.Downloads("EJECUTABLE_RECHAZADO;" + N(shownAs) + ";" + RefusalReason(old, fresh) + signer +
                ";esperado=" + N(old.subject) + ";emisor_esperado=" + N(old.issuer));
  return false;
}

void InstallFromZip(const std::wstring& programFolder, const std::wstring& targetPath, UpdateRecord& record,
                    const RunLog& log, const UpdateProgressFn& progress) {
  // Stage 7: extraction, into a folder that did not exist: never over the user's files, and the
  // search below sees the package alone.
  const std::wstring extractionFolder = record.extractionFolder;
  if (extractionFolder != StripExtension(targetPath)) {
    log.Downloads("CARPETA_EXTRACCION_LIBRE;" + N(StripExtension(targetPath)) + ";->;" + N(extractionFolder));
  }
  unsigned long exitCode = 0;
  Report(progress, UpdateStage::Extracting);
  std::function<void(int)> extracting;
  if (progress) {
    extracting = [&](int percent) { Report(progress, UpdateStage::Extracting, static_cast<uint64_t>(percent), 100); };
  }
  bool extracted =
      ExtractArchive(programFolder, targetPath, extractionFolder, &exitCode, kChildProcessTimeoutMs, extracting);
  log.Extractions("UNZIP_7ZA;" + N(targetPath) + ";->;" + N(extractionFolder) + ";" + (extracted ? "OK" : "ERROR") +
                  ";ec=" + Code(exitCode));
  if (!extracted) return;

  // Stage 8: candidates.
  std::vector<std::wstring> candidates;
  CollectExecutables(extractionFolder, candidates);
  if (candidates.empty()) log.Downloads("ZIP_SIN_EXE");

  // Stage 9: the first candidate whose namesake in the program folder could be set aside.
  Report(progress, UpdateStage::Installing);
  const std::wstring* chosen = nullptr;
  std::wstring rootPath, previous;
  for (const std::wstring& candidate : candidates) {
    std::wstring name = NameAfterLastSeparator(candidate);
    std::wstring root = programFolder + L"\\" + name;
    if (!IsExistingFileByLongName(root)) continue;
    if (!PublisherAllows(root, candidate, root, log)) continue;
    std::wstring setAside = programFolder + L"\\" + StripExtension(name) + L"2.exe";
    // Known before it is set aside: a repair tells the old program by these facts.
    record.installed = root;
    record.installedBefore = IdentityOf(root);
    record.setAside = setAside;
    record.setAsideBefore = IdentityOf(setAside);
    WriteUpdateRecord(record);
    if (!KeepEarlierSetAside(setAside, record, log)) continue;
    if (::MoveFileExW(root.c_str(), setAside.c_str(), kSetAsideFlags)) {
      chosen = &candidate;
      rootPath = root;
      previous = setAside;
      break;
    }
    DWORD error = ::GetLastError();
    log.Downloads("ERROR_RENOMBRAR_A_2_ZIP;" + N(root) + ";err=" + Code(error));
  }

  if (!chosen) {
    log.Downloads("ZIP_EXE_SIN_MATCH_EN_RAIZ");
  } else {
    // Stage 10: the previous version goes to the updates folder with copies of the data files.
    log.Downloads("RENOMBRADO_A_2_ZIP;" + N(rootPath) + ";->;" + N(previous));
    Report(progress, UpdateStage::KeepingPrevious);
    std::wstring destination, destinationFolder;
    bool moved = MovePreviousVersion(programFolder, previous, StripExtension(NameAfterLastSeparator(*chosen)),
                                     &destination, &destinationFolder);
    if (moved) {  // until the new one is in, the program exists only there
      record.keptCopy = destination;
      WriteUpdateRecord(record);
    }
    log.Downloads("ARCHIVO_ANTERIOR_A_ACTUALIZACIONES_ZIP;" + N(previous) + ";->;" +
                  (moved ? N(destination) : std::string("ERROR")));
    if (moved) CopyDataFilesAndArchive(programFolder, destinationFolder, "COPIA_PATRONES_RESUMEN_ZIP;");

    // Stage 11: the new executable into the program folder.
    Report(progress, UpdateStage::Installing);
    if (MoveFileWithRetry(*chosen, rootPath)) {
      log.Downloads("EXE_NUEVO_EN_RAIZ_OK;" + N(*chosen) + ";->;" + N(rootPath));
    } else {
      DWORD error = ::GetLastError();
      log.Downloads("ERROR_MOVER_EXE_NUEVO_A_RAIZ;" + N(*chosen) + ";->;" + N(rootPath) + ";err=" + Code(error));
    }
    // Decided by existence, not by the move's result (a move can fail after its copy was made).
    if (!IsExistingFile(rootPath)) {
      if (moved) {
        PutBack(destination, rootPath, /*copy=*/true, log);  // the updates folder keeps its copy
      } else {
        PutBack(previous, rootPath, /*copy=*/false, log);
      }
    }
  }

  // Stage 12: clean-up.
  if (IsExistingFile(targetPath)) {
    if (::DeleteFileW(targetPath.c_str())) {
      log.Downloads("LIMPIEZA_OK;ZIP_ELIMINADO;" + N(targetPath));
    } else {
      DWORD error = ::GetLastError();
      log.Downloads("LIMPIEZA_ERROR;ZIP_NO_ELIMINADO;" + N(targetPath) + ";err=" + Code(error));
    }
  }
  if (IsFolderEmpty(extractionFolder)) {
    if (::RemoveDirectoryW(extractionFolder.c_str())) {
      log.Downloads("LIMPIEZA_OK;CARPETA_VACIA_ELIMINADA;" + N(extractionFolder));
    } else {
      DWORD error = ::GetLastError();
      log.Downloads("LIMPIEZA_ERROR;CARPETA_NO_ELIMINADA;" + N(extractionFolder) + ";err=" + Code(error));
    }
  }
}

}  // namespace

void RunUpdateIn(const std::wstring& programFolder, const std::string& packageUrl, const UpdateProgressFn& progress) {
  RunLog log(programFolder);
  if (packageUrl.empty()) {
    log.Downloads("URL_VACIA");
    return;
  }
  const std::wstring fileName = PackageFileNameFromUrl(packageUrl);
  std::wstring targetPath = programFolder + L"\\" + fileName;
  const bool isExe = EndsWithExe(fileName);

  // A package replaces nothing of the user's or of the program's own: an executable replaces only
  // its namesake, which is set aside; a ZIP (removed after the run) or such a name is stored under
  // a free name beside; any other file it replaces is kept first in the updates folder, as a
  // replaced executable is.
  // Namesakes go by the long name: a short 8.3 name ("FACTUR~1.EXE") reaches another file.
  bool keepReplaced = false;
  const bool namesake = isExe && IsExistingFileByLongName(targetPath);
  if (!namesake && IsTaken(targetPath)) {
    keepReplaced = !isExe && !IsZipPackage(targetPath) && !IsNeverReplacedByPackage(fileName) &&
                   IsExistingFileByLongName(targetPath);
    if (!keepReplaced) {
      const std::wstring free = FreeNameBeside(targetPath);
      if (free.empty()) {
        log.Downloads("ERROR_PAQUETE_NOMBRE_LIBRE;" + N(targetPath) + ";err=" + Code(ERROR_FILE_EXISTS));
        return;
      }
      log.Downloads("PAQUETE_NOMBRE_LIBRE;" + N(targetPath) + ";->;" + N(free));
      targetPath = free;
    }
  }

  const std::wstring previous = StripExtension(targetPath) + L"2.exe";

  // Before the first change to the folder: what a repair needs if the run is cut off.
  UpdateRecord record;
  record.programFolder = programFolder;
  record.packageUrl = packageUrl;
  record.package = targetPath;
  record.packageBefore = IdentityOf(targetPath);
  record.isZip = IsZipPackage(targetPath);
  if (isExe) {
    record.installed = targetPath;
    record.installedBefore = record.packageBefore;
    record.setAside = previous;
    record.setAsideBefore = IdentityOf(previous);
  }
  if (record.isZip) {
    record.extractionFolder = FreeNameBeside(StripExtension(targetPath), /*isFolder=*/true);
    if (record.extractionFolder.empty()) {
      log.Downloads("ERROR_CARPETA_EXTRACCION_LIBRE;" + N(StripExtension(targetPath)) + ";err=" +
                    Code(ERROR_ALREADY_EXISTS));
      return;
    }
    record.extractionFolderExisted = IsTaken(record.extractionFolder);
  }
  WriteUpdateRecord(record);
  // Removed after the run's last step, whichever it is; a run cut off leaves it for the repair.
  struct RecordRemoval {
    const std::wstring& folder;
    ~RecordRemoval() { RemoveUpdateRecord(folder); }
  } recordRemoval{programFolder};

  // Stage 4: set the installed executable aside.
  bool setAside = false;
  if (namesake) {
    if (KeepEarlierSetAside(previous, record, log)) {
      if (::MoveFileExW(targetPath.c_str(), previous.c_str(), kSetAsideFlags)) {
        setAside = true;
        log.Downloads("RENOMBRADO_A_2;" + N(targetPath) + ";" + N(previous));
      } else {
        DWORD error = ::GetLastError();
        log.Downloads("ERROR_RENOMBRAR_A_2;" + N(targetPath) + ";err=" + Code(error));
      }
    }
    // A program that is not set aside has no copy: nothing may replace it.
    if (!setAside) {
      log.Downloads("DESCARGA_OMITIDA;" + N(targetPath) + ";motivo=EJECUTABLE_NO_APARTADO");
      return;
    }
  }

  std::wstring replacedKept, replacedFolder;
  if (keepReplaced) {
    const bool kept = MoveReplacedFile(programFolder, targetPath, &replacedKept, &replacedFolder);
    log.Downloads("ARCHIVO_REEMPLAZADO_A_ACTUALIZACIONES;" + N(targetPath) + ";->;" +
                  (kept ? N(replacedKept) : std::string("ERROR")));
    if (!kept) {  // not kept, not replaced: the package goes beside it
      const std::wstring free = FreeNameBeside(targetPath);
      if (free.empty()) return;
      log.Downloads("PAQUETE_NOMBRE_LIBRE;" + N(targetPath) + ";->;" + N(free));
      targetPath = free;
      record.package = free;
      record.packageBefore = IdentityOf(free);
      WriteUpdateRecord(record);
    }
  }

  // Stage 5: download.
  DownloadDetail detail;
  DownloadCheckFn publisher;
  if (setAside) {  // the installed program, now under its set-aside name, against the download
    publisher = [&](const std::wstring& partial) {
      Report(progress, UpdateStage::Installing);  // a large program takes a moment to check
      return PublisherAllows(previous, partial, targetPath, log);
    };
  }
  HttpProgressFn downloaded;
  if (progress) {
    downloaded = [&](uint64_t soFar, uint64_t total) { Report(progress, UpdateStage::Downloading, soFar, total); };
  }
  DownloadResult result = DownloadPackage(packageUrl, targetPath, &detail,
                                          progress ? kWatchedReadSize : kPackageReadSize, downloaded, publisher,
                                          /*keptAfterRun=*/!record.isZip);
  if (result == DownloadResult::Refused) {  // never took the name: the installed program goes back
    if (!IsExistingFile(targetPath)) PutBack(previous, targetPath, /*copy=*/false, log);
    return;
  }
  if (result != DownloadResult::Stored) {
    // The marker first, as ever; the code after it tells support why (an HTTP status or a system
    // or WinINet error, never 0).
    log.Downloads(std::string(result == DownloadResult::SaveFailed ? "ERROR_GUARDAR" : "ERROR_DESCARGA") +
                  ";err=" + Code(detail.error != 0 ? detail.error : ERROR_HTTP_INVALID_SERVER_RESPONSE));
    if (setAside && !IsExistingFile(targetPath)) PutBack(previous, targetPath, /*copy=*/false, log);
    if (!replacedKept.empty() && !IsExistingFile(targetPath)) {
      PutBack(replacedKept, targetPath, /*copy=*/false, log);
      ::RemoveDirectoryW(replacedFolder.c_str());  // only when emptied
    }
    return;
  }
  log.Downloads("DESCARGA;" + packageUrl + ";" + N(targetPath));

  // Stage 6: branch on the name.
  if (record.isZip) {
    InstallFromZip(programFolder, targetPath, record, log, progress);
    return;
  }
  if (!replacedKept.empty()) {
    Report(progress, UpdateStage::KeepingPrevious);
    CopyDataFilesAndArchive(programFolder, replacedFolder, "COPIA_PATRONES_RESUMEN;");
  }
  if (!isExe) return;

  // Stage 13: archive the previous version of an executable package.
  if (!IsExistingFile(previous)) return;
  Report(progress, UpdateStage::KeepingPrevious);
  std::wstring destination, destinationFolder;
  bool moved = MovePreviousVersion(programFolder, previous, StripExtension(fileName), &destination, &destinationFolder);
  log.Downloads("ARCHIVO_ANTERIOR_A_ACTUALIZACIONES;" + N(previous) + ";->;" +
                (moved ? N(destination) : std::string("ERROR")));
  if (moved) CopyDataFilesAndArchive(programFolder, destinationFolder, "COPIA_PATRONES_RESUMEN;");
}

void RunUpdate(const std::string& packageUrl, const UpdateProgressFn& progress) {
  RunUpdateIn(GetProgramFolder(), packageUrl, progress);
}

}  // namespace brivon
