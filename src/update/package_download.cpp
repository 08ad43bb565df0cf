#include "update/package_download.h"

#include <wininet.h>

#include "common/long_path.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "files/disk_space.h"
#include "files/sharing_waits.h"

namespace brivon {

DownloadResult FetchPackage(const std::string& url, const std::wstring& partialPath, DownloadDetail* detail,
                            DWORD readSize, const HttpProgressFn& progress) {
  DownloadDetail local;
  DownloadDetail& out = detail ? *detail : local;
  out = DownloadDetail{};
  if (url.empty()) return DownloadResult::DownloadFailed;

  UniqueFile partial;
  bool writeFailed = false;

  // Room on the drive, read where the partial file goes.
  const size_t cut = partialPath.find_last_of(L"\\/");
  const std::wstring folder = cut == std::wstring::npos ? partialPath : partialPath.substr(0, cut);
  // Fixed for the whole download from what was free before it began.
  out.margin = FreeSpaceMarginAt(folder);
  bool noRoom = false;
  uint64_t writable = 0;  // bytes that may be written before the free space is read again
  auto refuse = [&](uint64_t freeBytes, DWORD& error) {
    out.freeBytes = freeBytes;
    noRoom = true;
    error = ERROR_DISK_FULL;
    return false;
  };
  // A drive whose free space cannot be read is not refused: the writes still fail on a full one.
  auto begin = [&](uint64_t announced, bool hasLength, DWORD& error) {
    uint64_t freeBytes = 0;
    if (!hasLength || !ReadFreeBytes(folder, &freeBytes)) return true;
    return LeavesEnoughSpace(freeBytes, announced, out.margin) || refuse(freeBytes, error);
  };

  HttpGetOptions options;
  options.userAgent = L"UrlAct";
  options.accessType = INTERNET_OPEN_TYPE_PRECONFIG;  // an office's proxy; direct where none is set
  // A package of hundreds of megabytes has no business in the Internet cache, and an office's
  // caching proxy must not hand out a stale copy of it either.
  options.flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
  options.namedByDocument = true;  // the alert document names it
  options.chunkSize = readSize;
  options.largestChunkSize = kPackageLargestReadSize;
  // Only the file as published, and a line that stops bringing it ends the wait.
  ApplyFileDownloadLimits(options);

  // The partial file is made only once a byte arrives: an empty or refused reply touches nothing.
  auto chunk = [&](const char* data, size_t size, DWORD& error) {
    if (size > writable) {
      uint64_t freeBytes = 0;
      const uint64_t checkEvery = size > kFreeSpaceCheckBytes ? size : kFreeSpaceCheckBytes;
      if (!ReadFreeBytes(folder, &freeBytes)) {
        writable = checkEvery;
      } else {
        writable = WritableBeforeNextCheck(freeBytes, out.margin, checkEvery);
        if (size > writable) return refuse(freeBytes, error);
      }
    }
    writable -= size;
    if (!partial) {
      // A new file where it can be: Wine makes an overwrite a truncation, and on ext4 a truncated
      // file is written out whole when it is closed, so the flush before the swap would wait for
      // a package that is deleted once unpacked. A leftover of a run cut short is overwritten.
      const std::wstring path = ForFileSystem(partialPath);
      partial.reset(
          ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!partial && ::GetLastError() == ERROR_FILE_EXISTS) {
        partial.reset(
            ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
      }
      if (!partial) {
        error = ::GetLastError();
        writeFailed = true;
        return false;
      }
    }
    DWORD written = 0;
    if (!::WriteFile(partial.get(), data, static_cast<DWORD>(size), &written, nullptr)) {
      error = ::GetLastError();
      writeFailed = true;
      return false;
    }
    out.written += written;
    if (written != size) {
      error = ERROR_WRITE_FAULT;
      writeFailed = true;
      return false;
    }
    return true;
  };

  HttpGetOutcome outcome = HttpGet(AnsiToWide(url), options, begin, chunk, progress);
  out.http = outcome.result;
  out.error = outcome.error;
  out.httpStatus = outcome.httpStatus;
  out.bytes = outcome.bytes;
  out.announced = outcome.announced;
  out.hasLength = outcome.hasLength;
  out.signInRetried = outcome.signInRetried;

  const bool created = static_cast<bool>(partial);
  partial.reset();
  auto discard = [&](DownloadResult result) {
    if (created) DeleteFileWaiting(partialPath);
    return result;
  };

  if (noRoom) return discard(DownloadResult::NoRoom);
  if (writeFailed) return discard(DownloadResult::SaveFailed);
  if (!outcome.ok()) return discard(DownloadResult::DownloadFailed);
  if (outcome.bytes == 0) {
    out.http = HttpGetResult::Truncated;
    out.error = ERROR_NO_DATA;
    return discard(DownloadResult::DownloadFailed);
  }
  return DownloadResult::Stored;
}

}  // namespace brivon

