// Makes sure the 7-Zip console tool lies beside the program; fetches it when it is missing or damaged.
#pragma once

#include <string>
#include <string_view>

#include "build_config.h"

namespace brivon {

inline constexpr wchar_t kArchiveToolUrl[] = BRIVON_ARCHIVE_TOOL_URL;
inline constexpr wchar_t kArchiveToolFileName[] = L"\\7za.exe";
inline constexpr wchar_t kArchiveToolErrorTitle[] = L"Brivon - Error descargando 7za.exe";

// A usable tool is a file that starts with the executable signature "MZ"; an empty or damaged
// file counts as missing, since a present file is never fetched again.
bool StartsWithExecutableSignature(std::string_view firstBytes);
bool IsUsableArchiveTool(const std::wstring& path);

// The failure box's text: URL and the error code (the HTTP status for an error answer).
std::wstring ArchiveToolFailureText(const std::wstring& url, unsigned long error);

// Downloads url to destination. Only a complete 2xx body is kept: on any failure no file is left
// at the destination. error (optional) gets 0, or the failing step's code / the HTTP status.
bool DownloadArchiveTool(const std::wstring& destination, unsigned long* error,
                         const std::wstring& url = kArchiveToolUrl);

// Start-up step: check, download when needed, and show the error box when the tool is still missing.
void EnsureArchiveTool(const std::wstring& programFolder);

}  // namespace brivon
