#include "update/previous_versions.h"

#include <initializer_list>
#include <map>

#include "common/activity_log.h"
#include "common/log_line.h"
#include "common/long_path.h"
#include "common/path_name.h"
#include "common/text.h"
#include "files/durable_file.h"
#include "files/file_facts.h"
#include "files/sharing_waits.h"
#include "sevenzip/archive_listing.h"
#include "sevenzip/zip_archive.h"
#include "update/file_moves.h"
#include "update/time_stamp_names.h"

namespace brivon {
namespace {

// Makes the last level of folder when it is missing; its parent must exist.
bool EnsureFolder(const std::wstring& given) {
  if (IsExistingFolder(given)) return true;
  return ::CreateDirectoryW(ForFileSystem(given).c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

// Moves, or copies (beside `to`, flushed, renamed in) and deletes; a half-done fallback removes its
// copy so the file stays in one place. A running program renames, so it never needs the copy.
bool MoveOrCopyAndDelete(const std::wstring& from, const std::wstring& to) {
  if (MoveFileWaiting(from, to, MOVEFILE_WRITE_THROUGH)) return true;
  if (CopyFileDurably(from, to, 0)) {
    if (DeleteFileWaiting(from)) return true;
    DeleteFileWaiting(to);
  }
  return false;
}

// base, or base_1, base_2...: the first for which none of the names base + suffix is taken. Two
// versions archived in one local second, or in the hour repeated when daylight saving time ends,
// get the same time stamp: the later one never replaces the earlier.
std::wstring FreeStampedBase(const std::wstring& base, std::initializer_list<const wchar_t*> suffixes) {
  for (int n = 0; n < 10000; ++n) {
    const std::wstring candidate = n == 0 ? base : base + L"_" + std::to_wstring(n);
    bool free = true;
    for (const wchar_t* suffix : suffixes) free = free && !IsTaken(candidate + suffix);
    if (free) return candidate;
  }
  return {};
}

}  // namespace

bool MakeUpdateFolderPlace(const std::wstring& programFolder, const std::wstring& name, UpdateFolderPlace* place,
                           const SYSTEMTIME& now) {
  *place = {};
  const std::wstring updates = programFolder + kUpdatesFolderName;
  if (!EnsureFolder(updates)) return false;
  // A folder of its own, whose archive name is free as well.
  const std::wstring folder = FreeStampedBase(updates + L"\\" + ArchiveTimeStamp(now), {L"", L".zip"});
  if (folder.empty() || !::CreateDirectoryW(ForFileSystem(folder).c_str(), nullptr)) return false;
  *place = {folder, folder + L"\\" + name};
  return true;
}

bool MakeUpdateFolderPlace(const std::wstring& programFolder, const std::wstring& name, UpdateFolderPlace* place) {
  return MakeUpdateFolderPlace(programFolder, name, place, CurrentLocalTime());
}

bool MoveIntoUpdateFolder(const std::wstring& programFolder, const std::wstring& file,
                          const UpdateFolderPlace& place, FlushRule rule) {
  if (MoveFileWithRetry(file, place.path, rule)) return true;
  const DWORD error = ::GetLastError();
  AppendActivityLog(programFolder, kDownloadsLog,
                    LogLine("ERROR_MOVER_A_ACTUALIZACIONES_CARPETA").Field(file).To(place.path).Err(error));
  ::SetLastError(error);
  return false;
}

bool MovePreviousVersionAt(const std::wstring& programFolder, const std::wstring& file, const std::wstring& stem,
                           std::wstring* destination, std::wstring* destinationFolder, const SYSTEMTIME& now) {
  if (destination) destination->clear();
  if (destinationFolder) destinationFolder->clear();
  UpdateFolderPlace place;
  if (!IsExistingFile(file) || !MakeUpdateFolderPlace(programFolder, stem + L".exe", &place, now)) return false;
  // The old program may be running from its set-aside name.
  if (!MoveIntoUpdateFolder(programFolder, file, place, FlushRule::UnlessRunningProgram)) return false;
  if (destination) *destination = place.path;
  if (destinationFolder) *destinationFolder = place.folder;
  return true;
}

bool ArchiveToVersionsFolderAt(const std::wstring& programFolder, const std::wstring& file,
                               std::wstring* archivePath, const SYSTEMTIME& now, unsigned long* exitCode,
                               unsigned long timeoutMs) {
  if (archivePath) archivePath->clear();
  if (exitCode) *exitCode = 0;
  if (!IsExistingFile(file)) return false;
  std::wstring versions = programFolder + kVersionsFolderName;
  if (!EnsureFolder(versions)) return false;
  std::wstring name = FreeStampedBase(versions + L"\\" + VersionArchiveName(now), {L".exe", L".zip"});
  if (name.empty()) return false;
  std::wstring moved = name + L".exe";
  std::wstring archive = name + L".zip";
  if (!MoveOrCopyAndDelete(file, moved)) return false;

  // Written under a name of its own and put in place only once 7-Zip's listing shows the file in
  // it whole: the unpacked copy is the only one left until then.
  const std::wstring fresh = FreshArchiveName(archive);
  unsigned long code = 0;
  bool archived = ZipOneFile(programFolder, moved, fresh, &code, timeoutMs);
  if (exitCode) *exitCode = code;
  if (archived) {
    std::map<std::wstring, uint64_t> stored;
    archived =
        ListArchiveFiles(programFolder, fresh, stored, nullptr, timeoutMs) &&
        CountMissingFiles({{NameAfterLastSeparator(moved), FileSizeOf(moved).value_or(UINT64_MAX)}}, stored) == 0 &&
        PublishByRename(fresh, archive);
    if (!archived) DeleteFileWaiting(fresh);  // a failed ZipOneFile leaves none
  }
  if (archived) {
    DeleteFileWaiting(moved);
    if (archivePath) *archivePath = archive;
    return true;
  }
  // Back where it was, never over a file that took the name meanwhile.
  PutBackFile(moved, file);
  return false;
}

bool ArchiveToVersionsFolder(const std::wstring& programFolder, const std::wstring& file, std::wstring* archivePath,
                             unsigned long* exitCode, unsigned long timeoutMs) {
  return ArchiveToVersionsFolderAt(programFolder, file, archivePath, CurrentLocalTime(), exitCode, timeoutMs);
}

}  // namespace brivon
