// Command lines that run Windows PowerShell's Compress-Archive.
//
// powershell.exe splits its command line like any C program and joins the words after -Command
// with single spaces, and PowerShell then reads "$" and "`" inside double quotes. So each path goes
// in as a single-quoted PowerShell string (nothing expands in it), itself inside double quotes
// for the split (so runs of spaces survive); -Path also escapes its wildcard characters.
#pragma once

#include <string>
#include <string_view>

namespace brivon {

// Windows folder + "\System32\WindowsPowerShell\v1.0\powershell.exe".
std::wstring PowerShellPath(const std::wstring& windowsFolder);
// The same from the SystemRoot environment variable (the system's Windows folder when unset).
std::wstring PowerShellPathFromEnvironment();

// 'text' with every single-quote character doubled (PowerShell also takes U+2018..U+201B as one).
std::wstring PowerShellLiteral(std::wstring_view text);
// text with ` [ ] * ? preceded by a backtick: a wildcard path that matches only itself.
std::wstring EscapeWildcards(std::wstring_view text);
// One word of a program's command line: quoted so that the C runtime's split yields text exactly.
std::wstring QuoteCommandLineWord(std::wstring_view text);

// "<powershell>" -NoProfile -NonInteractive -Command Compress-Archive -Path "'<folder>\*'"
//   -DestinationPath "'<archive>'" -Force
std::wstring FolderArchiveCommandLine(const std::wstring& powershellPath, const std::wstring& folder,
                                      const std::wstring& archivePath);

// "<powershell>" -NoProfile -NonInteractive -Command Compress-Archive -LiteralPath "'<file>'"
//   -DestinationPath "'<archive>'" -Force
std::wstring FileArchiveCommandLine(const std::wstring& powershellPath, const std::wstring& file,
                                    const std::wstring& archivePath);

// "<powershell>" -NoProfile -ExecutionPolicy Bypass -Command "Compress-Archive -Path '<folder>\*'
//   -DestinationPath '<archive>' -Force". Named by its full path: a file called powershell.exe in the
//   program folder or the current directory must never run.
std::wstring LeftoverFolderArchiveCommandLine(const std::wstring& powershellPath, const std::wstring& folder,
                                              const std::wstring& archivePath);

}  // namespace brivon
