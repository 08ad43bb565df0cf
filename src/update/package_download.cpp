#include "update/package_download.h"

#include <wininet.h>

#include "common/durable_file.h"
#include "common/file_waits.h"
#include "common/text.h"
#include "common/unique_handle.h"

namespace brivon {

DownloadResult FetchPackage(const std::string& url, const std::wstring& partialPath, DownloadDetail* detail,
                            DWORD readSize, const HttpProgressFn& progress) {
  DownloadDetail local;
  DownloadDetail& out = detail ? *detail : local;
  out = DownloadDetail{};
  if (url.empty()) return DownloadResult::DownloadFailed;

  UniqueFile partial;
  bool writeFailed = false;

  HttpGetOptions options;
  options.userAgent = L"UrlAct";
  options.accessType = INTERNET_OPEN_TYPE_DIRECT;
  // A package of hundreds of megabytes has no business in the Internet cache.
  options.flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
  options.chunkSize = readSize;

  // The partial file is made only once a byte arrives: an empty or refused reply touches nothing.
  auto chunk = [&](const char* data, size_t size, DWORD& error) {
    if (!partial) {
      partial.reset(::CreateFileW(partialPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
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
    if (written != size) {
      error = ERROR_WRITE_FAULT;
      writeFailed = true;
      return false;
    }
    return true;
  };

  HttpGetOutcome outcome = HttpGet(AnsiToWide(url), options, nullptr, chunk, progress);
  out.http = outcome.result;
  out.error = outcome.error;
  out.httpStatus = outcome.httpStatus;
  out.bytes = outcome.bytes;

  const bool created = static_cast<bool>(partial);
  partial.reset();
  auto discard = [&](DownloadResult result) {
    if (created) DeleteFileWaiting(partialPath);
    return result;
  };

  if (writeFailed) return discard(DownloadResult::SaveFailed);
  if (!outcome.ok()) return discard(DownloadResult::DownloadFailed);
  if (outcome.bytes == 0) {
    out.http = HttpGetResult::Truncated;
    out.error = ERROR_NO_DATA;
    return discard(DownloadResult::DownloadFailed);
  }
  return DownloadResult::Stored;
}

DownloadResult DownloadPackage(const std::string& url, const std::wstring& targetPath, DownloadDetail* detail,
                               DWORD readSize, const HttpProgressFn& progress, const DownloadCheckFn& check,
                               bool keptAfterRun) {
  DownloadDetail local;
  DownloadDetail& out = detail ? *detail : local;
  const std::wstring partialPath = targetPath + kPartialSuffix;
  const DownloadResult fetched = FetchPackage(url, partialPath, &out, readSize, progress);
  if (fetched != DownloadResult::Stored) return fetched;
  auto discard = [&](DownloadResult result) {
    DeleteFileWaiting(partialPath);
    return result;
  };
  // Flushed, then renamed: after a power cut the name holds the whole package or what it held.
  // Flushing hundreds of megabytes takes seconds on a slow disk, for nothing when the package
  // is deleted anyway.
  if (check && !check(partialPath)) return discard(DownloadResult::Refused);
  const bool published = keptAfterRun ? PublishByRename(partialPath, targetPath)
                                      : RenameUnflushed(partialPath, targetPath);
  if (!published) {
    out.error = ::GetLastError();
    return discard(DownloadResult::SaveFailed);
  }
  return DownloadResult::Stored;
}

}  // namespace brivon

