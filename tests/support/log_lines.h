// Reading the activity logs back in tests.
#pragma once

#include <string>
#include <vector>

namespace brivon::testing {

// A log (or record) of a program folder's actualizador_registros, by its file name.
std::wstring LogPath(const std::wstring& programFolder, const std::wstring& name);

// A log's whole lines, each checked for its CR LF. A missing log gives none.
std::vector<std::string> LogLines(const std::wstring& path);

// The texts of a log's lines (after "YYYY-MM-DD HH:MM:SS;"), each line checked for that frame and
// its CR LF. A missing log gives none.
std::vector<std::string> LogTexts(const std::wstring& path);

// LogTexts of the log `name` of a program folder.
std::vector<std::string> LogTexts(const std::wstring& programFolder, const std::wstring& name);

// The extraction log's texts without the lines of a child the system failed to start and that
// was started once more (Wine does so now and then on a busy machine): what the run did.
std::vector<std::string> ExtractionTexts(const std::wstring& programFolder);

// How many times part occurs in text, one after another (CountOf(log, "\r\n"): its lines).
size_t CountOf(const std::string& text, const std::string& part);

// Each text up to its first ";": the line's marker.
std::vector<std::string> MarkersOf(const std::vector<std::string>& texts);

}  // namespace brivon::testing
