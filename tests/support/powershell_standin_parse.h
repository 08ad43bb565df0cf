// How the PowerShell stand-in reads its command line: the program's split into words, the
// switches of powershell.exe, and the one Compress-Archive command the program gives it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brivon::testing {

// The C runtime's split of a command line (argv[0] included): runs of 2n backslashes before a
// quote give n and the quote toggles quoting, 2n+1 give n and a literal quote; "" inside quotes
// is a literal quote.
std::vector<std::wstring> SplitCommandLine(std::wstring_view line);

// The switches after argv[0]: -NoProfile, -NonInteractive, -ExecutionPolicy <policy>, then
// -Command <words...> (joined by single spaces) or -EncodedCommand <base64 of UTF-16LE>.
// False with a reason for anything else.
bool ReadPowerShellSwitches(const std::vector<std::wstring>& words, std::wstring* command, std::wstring* why);

bool DecodeBase64Utf16(std::wstring_view base64, std::wstring* text);

struct CompressArchiveCall {
  bool literalPath = false;  // -LiteralPath (taken as written) rather than -Path (a wildcard pattern)
  std::wstring path;         // the string PowerShell hands the cmdlet
  std::wstring destination;
  bool force = false;
};

// "Compress-Archive" with -Path or -LiteralPath, -DestinationPath and optionally -Force, each value
// a bare word, a single-quoted or a double-quoted string. Refuses what would make PowerShell do
// more than read text: variables, sub-expressions, several commands, arrays, positional values.
bool ParseCompressArchive(std::wstring_view command, CompressArchiveCall* call, std::wstring* why);

// PowerShell wildcards: * ? [set] and [a-z], backtick escapes the next character, any letter case.
bool MatchesWildcard(std::wstring_view pattern, std::wstring_view name);
bool HasWildcard(std::wstring_view pattern);            // an unescaped * ? or [
std::wstring RemoveWildcardEscapes(std::wstring_view pattern);

}  // namespace brivon::testing
