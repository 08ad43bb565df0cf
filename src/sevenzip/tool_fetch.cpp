#include "sevenzip/tool_fetch.h"

#include <windows.h>
#include <wininet.h>

#include <cwchar>
#include <cwctype>

#include "common/long_path.h"
#include "common/test_hooks.h"
#include "common/unique_handle.h"
#include "files/download_proof.h"
#include "files/durable_file.h"
#include "files/file_facts.h"
#include "files/file_hash.h"
#include "files/pe_image_check.h"
#include "network/http_get.h"

namespace brivon {
namespace {

constexpr DWORD kArchiveToolFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                    INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_PRAGMA_NOCACHE;

bool IsWholeImage(const std::wstring& path) {
  const ImageFacts image = ReadImage(path);
  return image.machine && image.layout && ImageIsWhole(*image.layout, image.fileSize);
}

// Why a downloaded tool may not take its name (the box's code), or 0.
DWORD ArchiveToolRefusal(const std::wstring& path, bool hasLength, std::wstring_view pinnedSha256) {
  if (!MatchesArchiveToolPin(path, pinnedSha256)) return kArchiveToolNotPinned;
  if (!IsWholeImage(path)) return kArchiveToolNotWholeImage;
  DownloadEndFacts facts;
  facts.hasLength = hasLength;
  facts.pinMatched = !pinnedSha256.empty();  // matched: checked above
  if (JudgeDownloadEnd(DownloadedKind::ArchiveTool, facts) != DownloadEnd::Proven) return kArchiveToolEndUnproven;
  return 0;
}

}  // namespace

bool IsUsableArchiveTool(const std::wstring& path, std::wstring_view pinnedSha256) {
  if (!IsExistingFile(path)) return false;
  {
    UniqueFile file(::CreateFileW(ForFileSystem(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return true;  // present but locked: leave it alone rather than fight over it
  }
  return IsWholeImage(path) && MatchesArchiveToolPin(path, pinnedSha256);
}

std::wstring ArchiveToolFailureText(const std::wstring& url, unsigned long error) {
  return L"No se pudo descargar 7za.exe desde:\n" + url + L"\n\nError: " + std::to_wstring(error);
}

std::string ArchiveToolIdentity(const std::wstring& path) { return Sha256HexOfFile(path); }

bool MatchesArchiveToolPin(const std::wstring& path, std::wstring_view pinnedSha256) {
  if (pinnedSha256.empty()) return true;
  const std::string hex = ArchiveToolIdentity(path);
  if (hex.empty() || hex.size() != pinnedSha256.size()) return false;
  for (size_t i = 0; i < hex.size(); ++i) {
    if (static_cast<wchar_t>(hex[i]) != std::towlower(pinnedSha256[i])) return false;
  }
  return true;
}

bool DownloadArchiveTool(const std::wstring& destination, unsigned long* error, const std::wstring& url,
                         std::wstring_view pinnedSha256) {
  if (error) *error = 0;

  HttpGetOptions options;
  options.userAgent = L"Brivon-Downloader";
  options.accessType = INTERNET_OPEN_TYPE_PRECONFIG;
  options.flags = kArchiveToolFlags;
  // Only the file as published, and a line that stops bringing it ends the start's wait.
  ApplyFileDownloadLimits(options);

  // Written under a name of its own and renamed into place once whole and flushed: a download
  // cut off (a kill, a power cut) never leaves half a tool that starts with "MZ".
  const std::wstring partial = destination + L".parcial";
  UniqueFile file;
  bool created = false;
  HttpGetOutcome outcome = HttpGet(
      url, options,
      [&](uint64_t, bool, DWORD& failure) {
        file.reset(::CreateFileW(ForFileSystem(partial).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
          failure = ::GetLastError();
          return false;
        }
        created = true;
        return true;
      },
      [&](const char* data, size_t size, DWORD& failure) {
        DWORD written = 0;
        if (!::WriteFile(file.get(), data, static_cast<DWORD>(size), &written, nullptr) || written != size) {
          failure = ::GetLastError();
          if (failure == 0) failure = ERROR_WRITE_FAULT;
          return false;
        }
        return true;
      });
  file.reset();

  DWORD failure = outcome.error;
  if (outcome.ok()) {  // the partial file exists: it is made before any byte is read
    // It takes its name only as what the next start keeps (the pinned tool, a whole Windows
    // image), and only once known to have arrived whole.
    failure = created ? ArchiveToolRefusal(partial, outcome.hasLength, pinnedSha256) : ERROR_FILE_NOT_FOUND;
    if (failure == 0) {
      if (PublishByRename(partial, destination)) return true;
      failure = ::GetLastError();
      if (failure == 0) failure = ERROR_WRITE_FAULT;
    }
  }
  if (error) *error = failure;
  // Half a tool or an error page would stand as 7za.exe for good; a damaged one already there
  // (the reason for this download) goes too.
  if (created) ::DeleteFileW(ForFileSystem(partial).c_str());
  if (IsExistingFile(destination)) ::DeleteFileW(ForFileSystem(destination).c_str());
  return false;
}

void EnsureArchiveTool(const std::wstring& programFolder) {
  std::wstring path = programFolder + kArchiveToolFileName;
  if (IsUsableArchiveTool(path)) return;

  const std::wstring url = TestBuiltInAddress(kArchiveToolUrl);
  unsigned long error = 0;
  bool downloaded = DownloadArchiveTool(path, &error, url);
  if (downloaded && IsExistingFile(path)) return;
  // Reported success, yet the file is not there (removed at once by another program): still a
  // failure, so not the code 0 that means success.
  if (downloaded) error = ERROR_FILE_NOT_FOUND;

  std::wstring text = ArchiveToolFailureText(url, error);
  ::MessageBoxW(nullptr, text.c_str(), kArchiveToolErrorTitle, MB_OK | MB_ICONERROR);
}

}  // namespace brivon
