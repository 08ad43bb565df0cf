// The PowerShell stand-in in the test prefix, how to make it misbehave, and reading ZIP archives
// back with the real 7za.exe.
#pragma once

#include <string>
#include <vector>

namespace brivon::testing {

// %SystemRoot%\System32\WindowsPowerShell\v1.0\powershell.exe of the running prefix.
std::wstring SystemPowerShellPath();

// Puts the stand-in (and the 7za.exe it writes archives with) in place of Wine's powershell.exe
// stub. Idempotent; false when a file could not be copied.
bool InstallPowerShellStandIn();

// While alive, every PowerShell started from this process (directly or through brivon.exe)
// behaves as mode says: "fail" (exit 1, nothing written), "hang" (holds the files it was given
// and never ends) or "silent" (exit 0, nothing written). Restores the normal behaviour after.
class PowerShellMode {
 public:
  explicit PowerShellMode(const std::wstring& mode);
  ~PowerShellMode();
  PowerShellMode(const PowerShellMode&) = delete;
  PowerShellMode& operator=(const PowerShellMode&) = delete;
};

// While alive, the stand-in appends every command line it receives to logPath (UTF-8, one a line).
class PowerShellCallLog {
 public:
  explicit PowerShellCallLog(const std::wstring& logPath);
  ~PowerShellCallLog();
  PowerShellCallLog(const PowerShellCallLog&) = delete;
  PowerShellCallLog& operator=(const PowerShellCallLog&) = delete;
};

// The entries of a ZIP archive as 7-Zip lists them (paths with backslashes, folders included), in
// archive order. Empty, with ok false, when 7-Zip cannot read it.
std::vector<std::wstring> ListArchive(const std::wstring& archivePath, bool* ok = nullptr);

// Extracts a ZIP archive with its folders into destination (made when missing); true on success.
bool ExtractWithSevenZip(const std::wstring& archivePath, const std::wstring& destination);

}  // namespace brivon::testing
