#include "update/data_copies_archive.h"

#include <vector>

#include "common/activity_log.h"
#include "common/log_line.h"
#include "common/long_path.h"
#include "common/test_hooks.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "files/durable_file.h"
#include "files/file_facts.h"
#include "files/sharing_waits.h"
#include "sevenzip/zip_archive.h"
#include "update/executable_search.h"

namespace brivon {
namespace {

constexpr DWORD kCopyChunkBytes = 1024 * 1024;

// Calls each file of folder matching pattern, folders left out.
template <typename Visit>
bool ForEachMatch(const std::wstring& folder, const std::wstring& pattern, Visit visit) {
  WIN32_FIND_DATAW entry = {};
  UniqueFind listing(::FindFirstFileW(ForFileSystem(folder + L"\\" + pattern).c_str(), &entry));
  if (!listing) return false;
  do {
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) visit(entry);
  } while (::FindNextFileW(listing.get(), &entry));
  return true;
}

bool CopyBytes(HANDLE in, HANDLE out) {
  std::vector<char> buffer(kCopyChunkBytes);
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(in, buffer.data(), kCopyChunkBytes, &got, nullptr)) return false;
    if (got == 0) return true;
    DWORD written = 0;
    if (!::WriteFile(out, buffer.data(), got, &written, nullptr)) return false;
    if (written != got) {
      ::SetLastError(ERROR_DISK_FULL);
      return false;
    }
  }
}

}  // namespace

UniqueFile OpenDataFileForCopy(const std::wstring& source) {
  return UniqueFile(::CreateFileW(ForFileSystem(source).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

bool CopySharedFile(const std::wstring& source, const std::wstring& destination) {
  UniqueFile in;
  if (!WithFileWaits([&] {
        in = OpenDataFileForCopy(source);
        return static_cast<bool>(in);
      })) {
    return false;
  }
  // Made beside its name and renamed in once whole and on the disk: a copy cut off (End task, a
  // power cut) never stands under a data file's name, to be archived as if it were a good one.
  const std::wstring staging = StagingNameOf(destination);
  bool copied = false;
  {
    UniqueFile out;
    if (!WithFileWaits([&] {
          out.reset(::CreateFileW(ForFileSystem(staging).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
          return static_cast<bool>(out);
        })) {
      return false;
    }
    copied = CopyBytes(in.get(), out.get()) && ::FlushFileBuffers(out.get());
  }
  if (copied) {
    TestTraceFileEvent("flush", staging);
    TestKillPoint("COPIA_TEMPORAL_ESCRITA");
    // An earlier copy left hidden or read-only refuses to be replaced.
    ::SetFileAttributesW(ForFileSystem(destination).c_str(), FILE_ATTRIBUTE_NORMAL);
    if (RenameFlushed(staging, destination, MOVEFILE_REPLACE_EXISTING)) return true;
  }
  const DWORD error = ::GetLastError();
  DeleteFileWaiting(staging);
  ::SetLastError(error);
  return false;
}

int CopyFilesByPattern(const std::wstring& sourceFolder, const std::wstring& pattern,
                       const std::wstring& destinationFolder, const std::wstring& programFolder) {
  int copied = 0;
  const bool matched = ForEachMatch(sourceFolder, pattern, [&](const WIN32_FIND_DATAW& entry) {
    const std::wstring source = sourceFolder + L"\\" + entry.cFileName;
    const std::wstring destination = destinationFolder + L"\\" + entry.cFileName;
    if (CopySharedFile(source, destination)) {
      ++copied;
      AppendActivityLog(programFolder, kDownloadsLog, LogLine("COPIA_OK").Field(source).To(destination));
    } else {
      const DWORD error = ::GetLastError();
      AppendActivityLog(programFolder, kDownloadsLog, LogLine("COPIA_ERROR").Field(source).To(destination).Err(error));
    }
  });
  if (!matched) {
    AppendActivityLog(programFolder, kDownloadsLog,
                      "COPIA_PATRON_SIN_RESULTADOS;" + NarrowLow8(pattern) + ";src=" + NarrowLow8(sourceFolder) +
                          ";dest=" + NarrowLow8(destinationFolder));
  }
  return copied;
}

uint64_t PatternBytes(const std::wstring& folder, const std::wstring& pattern) {
  uint64_t total = 0;
  ForEachMatch(folder, pattern, [&](const WIN32_FIND_DATAW& entry) {
    total += FileSizeFromHalves(entry.nFileSizeHigh, entry.nFileSizeLow);
  });
  return total;
}

bool ArchiveFolder(const std::wstring& folder, std::wstring* archivePath, const std::wstring& programFolder,
                   unsigned long timeoutMs) {
  if (archivePath) archivePath->clear();
  const std::wstring archive = folder + L".zip";
  // Written under a name of its own, then put in place: 7-Zip adds to an archive that exists.
  const std::wstring fresh = FreshArchiveName(archive);
  unsigned long exitCode = 0;
  bool ok = ZipFolderContents(programFolder, folder, fresh, &exitCode, timeoutMs);
  const bool renameFailed = ok && !PublishByRename(fresh, archive);
  const DWORD renameError = renameFailed ? ::GetLastError() : ERROR_SUCCESS;
  if (renameFailed) {
    DeleteFileWaiting(fresh);
    ok = false;
  }
  LogLine line("ZIP_CARPETA");
  line.Field(folder).To(archive).Field(ok ? "estado=OK" : "estado=ERROR").Named("ec", exitCode);
  AppendActivityLog(programFolder, kDownloadsLog, renameFailed ? line.Err(renameError) : line);
  if (ok && archivePath) *archivePath = archive;
  return ok;
}

void CopyDataFilesAndArchive(const std::wstring& programFolder, const std::wstring& destinationFolder,
                             const char* summaryMarker, uint64_t margin) {
  if (IsFolderEmpty(destinationFolder)) return;
  // The copies, and then their archive at worst as large again.
  const uint64_t data = PatternBytes(programFolder, L"*.MDB") + PatternBytes(programFolder, L"*.BDORVA");
  uint64_t freeBytes = 0;
  const bool known = ReadFreeBytes(destinationFolder, &freeBytes);
  if (margin == 0) margin = known ? FreeSpaceMargin(freeBytes) : FreeSpaceMargin();
  const bool room = !known || LeavesEnoughSpace(freeBytes, 2 * data, margin);
  int mdb = 0, bd = 0;
  if (room) {
    mdb = CopyFilesByPattern(programFolder, L"*.MDB", destinationFolder, programFolder);
    bd = CopyFilesByPattern(programFolder, L"*.BDORVA", destinationFolder, programFolder);
  } else {
    AppendActivityLog(programFolder, kDownloadsLog,
                      "COPIA_SIN_ESPACIO;dest=" + NarrowLow8(destinationFolder) + ";necesarios=" +
                          std::to_string(2 * data) + ";libres=" + std::to_string(freeBytes) +
                          ";margen=" + std::to_string(margin));
  }
  AppendActivityLog(programFolder, kDownloadsLog,
                    std::string(summaryMarker) + "dest=" + NarrowLow8(destinationFolder) + ";MDB=" +
                        std::to_string(mdb) + ";BDORVA=" + std::to_string(bd));
  ArchiveFolder(destinationFolder, nullptr, programFolder);
}

}  // namespace brivon
