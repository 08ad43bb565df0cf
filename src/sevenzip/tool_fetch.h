// Makes sure the 7-Zip console tool lies beside the program; fetches it when it is missing or damaged.
#pragma once

#include <string>
#include <string_view>

#include "build_config.h"

namespace brivon {

inline constexpr wchar_t kArchiveToolUrl[] = BRIVON_ARCHIVE_TOOL_URL;
inline constexpr wchar_t kArchiveToolFileName[] = L"\\7za.exe";
inline constexpr wchar_t kArchiveToolErrorTitle[] = L"Brivon - Error descargando 7za.exe";
inline constexpr wchar_t kArchiveToolSha256[] = BRIVON_ARCHIVE_TOOL_SHA256;
// The box's codes for a downloaded tool that may not take its name: not the pinned one
// (ERROR_INVALID_IMAGE_HASH); no whole Windows image, such as a page served with status 200 or a
// body cut short (ERROR_BAD_EXE_FORMAT); sent without its length to a release without a pin, so
// that nothing proves it arrived whole (ERROR_INVALID_DATA).
inline constexpr unsigned long kArchiveToolNotPinned = 577;
inline constexpr unsigned long kArchiveToolNotWholeImage = 193;
inline constexpr unsigned long kArchiveToolEndUnproven = 13;

// The tool's identity: the SHA-256 of the file in lower-case hex; empty when it cannot be read.
std::string ArchiveToolIdentity(const std::wstring& path);

// True when the pin is empty, or the file's SHA-256 is the pinned one (hex, any letter case).
bool MatchesArchiveToolPin(const std::wstring& path, std::wstring_view pinnedSha256);

// A usable tool is a whole Windows image (the raw data of every section and its certificate table
// lie within the file), and with a pin the pinned tool. Anything else present (empty, an error page,
// a copy cut short that still begins with "MZ", a scanner's stub) is fetched again. A tool another
// program holds without sharing is left alone.
bool IsUsableArchiveTool(const std::wstring& path, std::wstring_view pinnedSha256 = kArchiveToolSha256);

// The failure box's text: URL and the error code (the HTTP status for an error answer).
std::wstring ArchiveToolFailureText(const std::wstring& url, unsigned long error);

// Downloads url to destination. Only a complete 200 or 203 body that IsUsableArchiveTool keeps
// takes the name, and only when its end is proven: its Content-Length reached, or, without one,
// the pin matched. On any failure no file is left at the destination. error (optional) gets 0, or
// the failing step's code / the HTTP status / one of the codes above.
bool DownloadArchiveTool(const std::wstring& destination, unsigned long* error,
                         const std::wstring& url = kArchiveToolUrl, std::wstring_view pinnedSha256 = kArchiveToolSha256);

// Start-up step: check, download when needed, and show the error box when the tool is still missing.
void EnsureArchiveTool(const std::wstring& programFolder);

}  // namespace brivon
