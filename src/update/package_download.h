// Download of an update package into its file in the program folder.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "network/http_get.h"

namespace brivon {

enum class DownloadResult {
  Stored,
  DownloadFailed,  // no session, no answer, a non-2xx status, an empty, cut or failed body
  SaveFailed,      // the file could not be written or put in place
  NoRoom,          // it would leave less than the margin free on its drive: refused before its first
                   // byte (its announced length) or stopped on the way, nothing of it kept
};

// A read returns only once its buffer is full (or the body ends), so the window's progress is heard
// once per read: 4 MiB reads would leave a slow line's strip still for minutes. So reads start at
// 256 KiB and grow up to 4 MiB only while they fill fast (NextReadSize): on a fast line a 200 MiB
// package then takes half the time of fixed 256 KiB reads (bench/download_bench.sh, which times
// this path at several starting sizes). The buffer is the only memory the body costs.
inline constexpr DWORD kPackageReadSize = 256 * 1024;
inline constexpr DWORD kPackageLargestReadSize = 4 * 1024 * 1024;

// Why a download failed, for the caller's log and for tests.
struct DownloadDetail {
  HttpGetResult http = HttpGetResult::SessionFailed;
  DWORD error = 0;       // system/WinINet error of the failing step, or the HTTP status
  DWORD httpStatus = 0;  // 0 when no answer arrived
  uint64_t bytes = 0;    // body bytes received
  uint64_t announced = 0;  // Content-Length, when the server sent one
  bool hasLength = false;
  uint64_t written = 0;    // bytes written to the partial file
  uint64_t freeBytes = 0;  // NoRoom: the free space that refused it
  uint64_t margin = 0;     // NoRoom: the free space it keeps
  bool signInRetried = false;  // asked again with sign-in for the office's proxy (and failed, if it failed)
};

// Suffix of the file the body is streamed into, beside the target.
inline constexpr wchar_t kPartialSuffix[] = L".parcial";

// Streams the package at url (8-bit, as the alert document holds it) into partialPath. Stored: the
// whole body is there. On any failure no partial file is left. The drive keeps its margin free
// (FreeSpaceMarginAt, fixed from what was free before the download began): an announced length
// that would take it below is refused before the first byte, and the free space is read again
// every few megabytes on the way (kFreeSpaceCheckBytes). readSize: the first read's, and the
// least, size.
DownloadResult FetchPackage(const std::string& url, const std::wstring& partialPath, DownloadDetail* detail = nullptr,
                            DWORD readSize = kPackageReadSize, const HttpProgressFn& progress = {});

}  // namespace brivon
