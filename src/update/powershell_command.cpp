#include "update/powershell_command.h"

#include <windows.h>

namespace brivon {
namespace {

bool IsSingleQuote(wchar_t c) { return c == L'\'' || (c >= 0x2018 && c <= 0x201B); }

std::wstring ArchiveCommand(std::wstring_view pathParameter, const std::wstring& pathLiteral,
                            const std::wstring& archivePath, bool quoteEachWord) {
  auto word = [&](const std::wstring& literal) { return quoteEachWord ? QuoteCommandLineWord(literal) : literal; };
  std::wstring command = L"Compress-Archive ";
  command += pathParameter;
  command += L' ';
  command += word(pathLiteral);
  command += L" -DestinationPath ";
  command += word(PowerShellLiteral(archivePath));
  command += L" -Force";
  return command;
}

std::wstring QuotedPowerShell(const std::wstring& powershellPath) {
  return L"\"" + powershellPath + L"\" -NoProfile -NonInteractive -Command ";
}

}  // namespace

std::wstring PowerShellPath(const std::wstring& windowsFolder) {
  return windowsFolder + L"\\System32\\WindowsPowerShell\\v1.0\\powershell.exe";
}

std::wstring PowerShellPathFromEnvironment() {
  wchar_t buffer[MAX_PATH] = {};
  DWORD length = ::GetEnvironmentVariableW(L"SystemRoot", buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    length = ::GetSystemWindowsDirectoryW(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return PowerShellPath(L"C:\\Windows");
  }
  std::wstring folder(buffer, length);
  while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  return PowerShellPath(folder);
}

std::wstring PowerShellLiteral(std::wstring_view text) {
  std::wstring out = L"'";
  for (wchar_t c : text) {
    out += c;
    if (IsSingleQuote(c)) out += c;
  }
  out += L'\'';
  return out;
}

std::wstring EscapeWildcards(std::wstring_view text) {
  std::wstring out;
  for (wchar_t c : text) {
    if (c == L'`' || c == L'[' || c == L']' || c == L'*' || c == L'?') out += L'`';
    out += c;
  }
  return out;
}

std::wstring QuoteCommandLineWord(std::wstring_view text) {
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : text) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count double only before a quote (an inner one, or the closing one).
    if (c == L'"') {
      out.append(backslashes * 2 + 1, L'\\');
    } else {
      out.append(backslashes, L'\\');
    }
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  out += L'"';
  return out;
}

std::wstring FolderArchiveCommandLine(const std::wstring& powershellPath, const std::wstring& folder,
                                      const std::wstring& archivePath) {
  return QuotedPowerShell(powershellPath) +
         ArchiveCommand(L"-Path", PowerShellLiteral(EscapeWildcards(folder) + L"\\*"), archivePath, true);
}

std::wstring FileArchiveCommandLine(const std::wstring& powershellPath, const std::wstring& file,
                                    const std::wstring& archivePath) {
  return QuotedPowerShell(powershellPath) + ArchiveCommand(L"-LiteralPath", PowerShellLiteral(file), archivePath, true);
}

std::wstring LeftoverFolderArchiveCommandLine(const std::wstring& powershellPath, const std::wstring& folder,
                                              const std::wstring& archivePath) {
  std::wstring command =
      ArchiveCommand(L"-Path", PowerShellLiteral(EscapeWildcards(folder) + L"\\*"), archivePath, false);
  return QuoteCommandLineWord(powershellPath) + L" -NoProfile -ExecutionPolicy Bypass -Command " +
         QuoteCommandLineWord(command);
}

}  // namespace brivon
