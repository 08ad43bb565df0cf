// Download of an update package into its file in the program folder.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "common/http_get.h"

namespace brivon {

enum class DownloadResult {
  Stored,
  DownloadFailed,  // no session, no answer, a non-2xx status, an empty, cut or failed body
  SaveFailed,      // the file could not be written or put in place
  Refused,         // complete, but the caller's check refused it: it never took the name
  NoRoom,          // it would leave less than the margin free on its drive: refused before its first
                   // byte (its announced length) or stopped on the way, nothing of it kept
};

// Looks at the whole download, still under its partial name, before it takes the target's name.
using DownloadCheckFn = std::function<bool(const std::wstring& partialPath)>;

// The read size of a download nobody watches. The update always has its window watching and reads
// 256 KiB at a time (update_run.cpp), the path bench/download_bench.sh times beside curl + sync -d:
// from 0.5 to 1.4 times, 4 MiB reads 0.4 to 1.1 times, from run to run on a loaded machine. The
// buffer is the only memory that the body costs, whatever its size.
inline constexpr DWORD kPackageReadSize = 4 * 1024 * 1024;

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
};

// Suffix of the file the body is streamed into, beside the target.
inline constexpr wchar_t kPartialSuffix[] = L".parcial";

// Streams the package at url (8-bit, as the alert document holds it) into partialPath. Stored: the
// whole body is there. On any failure no partial file is left. The drive keeps FreeSpaceMargin()
// free: an announced length that would take it below is refused before the first byte, and the
// free space is read again every few megabytes on the way (kFreeSpaceCheckBytes).
DownloadResult FetchPackage(const std::string& url, const std::wstring& partialPath, DownloadDetail* detail = nullptr,
                            DWORD readSize = kPackageReadSize, const HttpProgressFn& progress = {});
// Streams the package at url (8-bit, as the alert document holds it) into targetPath + ".parcial"
// and puts it in place of targetPath only when the whole body arrived and was written: a failed
// download never creates, truncates or leaves a partial target.
// progress, when given, hears the bytes so far and the announced size (0 when unknown) after
// every chunk. A package that stays (a program, any other file) is on the disk before it takes its
// name; one that is only unpacked and then deleted (keptAfterRun false: a ZIP) skips that wait,
// since after a power cut the repair deletes it whatever it holds.
DownloadResult DownloadPackage(const std::string& url, const std::wstring& targetPath,
                               DownloadDetail* detail = nullptr, DWORD readSize = kPackageReadSize,
                               const HttpProgressFn& progress = {}, const DownloadCheckFn& check = {},
                               bool keptAfterRun = true);

}  // namespace brivon
