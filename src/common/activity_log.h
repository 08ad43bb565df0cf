// The CSV activity logs in "actualizador_registros": one line per call, "timestamp;text" CR LF.
#pragma once

#include <string>
#include <string_view>

namespace brivon {

inline constexpr wchar_t kLogFolderName[] = L"\\actualizador_registros";
inline constexpr wchar_t kDownloadsLog[] = L"descargas.csv";
inline constexpr wchar_t kExtractionsLog[] = L"extracciones.csv";
inline constexpr wchar_t kCheckinLog[] = L"ComprobadorOrvane_log.csv";

struct LocalTime {
  unsigned year, month, day, hour, minute, second;
};

// "YYYY-MM-DD hh:mm:ss;" + text + "\n": the line as handed to the text-mode stream. Every CR, LF
// and zero byte inside the text becomes a space, so one call is always one whole line.
std::string FormatLogLine(const LocalTime& when, std::string_view text);

std::wstring LogFolder(const std::wstring& programFolder);

// Appends one line to a log in the log folder. Failures are silent: a log never stops the caller.
void AppendActivityLog(const std::wstring& programFolder, const std::wstring& fileName, std::string_view text);

// The check-in log is kept read-only + system between writes.
void AppendCheckinLog(const std::wstring& programFolder, std::string_view text);

// True when the folder exists on return, created now or before.
bool EnsureDirectoryTree(const std::wstring& folder);

// Writes 8-bit text through a text-mode stream (each LF stored as CR LF), replacing the file.
// False when the file could not be opened or written; error, when given, gets the system's code.
bool WriteTextFile(const std::wstring& path, std::string_view text, unsigned long* error = nullptr);
// The bytes WriteTextFile leaves on the disk for text.
std::string TextAsWritten(std::string_view text);

}  // namespace brivon
