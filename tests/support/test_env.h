// Where the tests find the built program and the tools, and small file helpers for the tests.
#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/environment_variable.h"

namespace brivon::testing {

// "/work/x/y" -> "Z:\work\x\y": Wine maps the Unix root to drive Z:.
std::wstring HostPathToWindows(const std::string& unixPath);

// Run from the Windows test kit (scripts/windows_test_kit.sh), everything below lies in the kit:
// the folder above the test program's own, the one holding ejecutar_pruebas.cmd. "" under ctest.
const std::wstring& KitRoot();
// A file or folder the build made at hostPath, or in the kit at inKit (relative to its root).
std::wstring BuiltPath(const std::string& hostPath, const std::wstring& inKit);

std::wstring BrivonExePath();     // the built brivon.exe
std::wstring ArchiveToolPath();   // the real 7za.exe from the 7zip-bin package
std::wstring TestToolPath(const std::wstring& name);  // a helper program built beside the tests
std::wstring SourcePath(const std::string& relative); // a file of the source tree (its fixtures, in the kit)
uint16_t BuiltInPort();           // the loopback port the test build's built-in addresses use

// True under Wine (ntdll exports wine_get_version), false on Windows itself. Where the two differ
// on purpose, a row asserts what its own platform does.
bool RunningUnderWine();

// Windows trusts a signature only up to a root certificate the user trusts (Wine trusts any): what
// a row that needs the test publishers' signatures valid says on a desk that does not trust them.
constexpr char kNeedsTrustedTestRoots[] =
    "needs the test publishers' root certificates (firmados\\raiz_*.cer) among this user's trusted roots";

// A fresh, empty folder under the user's temp folder (or under base, a folder ending in a
// backslash), removed with all it holds (left for its logs when its row failed in the kit).
class TempFolder {
 public:
  explicit TempFolder(const std::wstring& prefix = L"brivon", const std::wstring& base = L"");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

// True when root (L"R:\\") is a small drive the tests mounted (tests/update/small_drive.sh), of at
// most mostBytes; false where the host did not let them mount one and the letter is unmapped.
bool SmallDriveMapped(const wchar_t* root, uint64_t mostBytes);

std::string ReadBytes(const std::wstring& path);  // "" when missing
bool WriteBytes(const std::wstring& path, const std::string& bytes);
bool Exists(const std::wstring& path);
// A desk where powershell.exe is missing or blocked: it is deleted from the prefix. True once gone.
bool RemoveSystemPowershell();
// Names of the files (or, with folders, the sub-folders) directly in folder, sorted.
std::vector<std::wstring> EntryNames(const std::wstring& folder, bool folders);
// The names in order, as a listing in any order is compared.
std::vector<std::wstring> Sorted(std::vector<std::wstring> names);
bool IsDirectory(const std::wstring& path);
DWORD Attributes(const std::wstring& path);

// Copies brivon.exe into folder (as name) and returns the copy's path.
std::wstring InstallBrivon(const std::wstring& folder, const std::wstring& name = L"brivon.exe");
// Copies the real 7za.exe into folder, where the program looks for its archive tool.
bool InstallArchiveTool(const std::wstring& folder);

}  // namespace brivon::testing
