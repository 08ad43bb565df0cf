#include "support/test_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <system_error>

#include "common/long_path.h"
#include "common/test_hooks.h"
#include "common/unique_handle.h"

namespace brivon::testing {

std::wstring HostPathToWindows(const std::string& unixPath) {
  std::wstring out = L"Z:";
  for (char c : unixPath) out.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return out;
}

const std::wstring& KitRoot() {
  static const std::wstring root = [] {
    wchar_t module[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    std::wstring folder(module, length);
    for (int level = 0; level < 2; ++level) {
      const size_t slash = folder.find_last_of(L'\\');
      if (slash == std::wstring::npos) return std::wstring();
      folder.resize(slash);
    }
    return Exists(folder + L"\\ejecutar_pruebas.cmd") ? folder : std::wstring();
  }();
  return root;
}

std::wstring BuiltPath(const std::string& hostPath, const std::wstring& inKit) {
  if (KitRoot().empty()) return HostPathToWindows(hostPath);
  return inKit.empty() ? KitRoot() : KitRoot() + L"\\" + inKit;
}

std::wstring BrivonExePath() { return BuiltPath(BRIVON_TEST_EXE, L"brivon.exe"); }
std::wstring ArchiveToolPath() { return BuiltPath(BRIVON_TEST_7ZA, L"7za.exe"); }
std::wstring TestToolPath(const std::wstring& name) {
  return BuiltPath(BRIVON_TEST_TOOLS_DIR, L"herramientas") + L"\\" + name;
}
std::wstring SourcePath(const std::string& relative) {
  std::wstring inKit = L"fuentes\\";
  for (char c : relative) inKit.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return BuiltPath(std::string(BRIVON_TEST_SOURCE_DIR) + "/" + relative, inKit);
}
// The second lane of end-to-end tests moves the test build's built-in addresses to a port of its
// own, through the same hook brivon.exe reads (BRIVON_TEST_BUILT_IN_PORT).
uint16_t BuiltInPort() { return TestBuiltInPort(BRIVON_TEST_PORT); }

bool RunningUnderWine() {
  static const bool wine = ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
}

TempFolder::TempFolder(const std::wstring& prefix, const std::wstring& base) {
  wchar_t temp[MAX_PATH] = {};
  if (base.empty()) ::GetTempPathW(MAX_PATH, temp);
  const std::wstring parent = base.empty() ? std::wstring(temp) : base;
  static unsigned counter = 0;
  for (;;) {
    std::wstring candidate = parent + prefix + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                             std::to_wstring(++counter);
    if (::CreateDirectoryW(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return;
  }
}

TempFolder::~TempFolder() {
  if (path_.empty()) return;
  // The kit's runner keeps the logs of a failed row from what it leaves under its own temp folder.
  if (!KitRoot().empty() && ::testing::Test::HasFailure()) return;
  std::error_code ec;
  // Read-only files (the check-in log) would stop remove_all.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    ::SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  std::filesystem::remove_all(path_, ec);
}

// The helpers below take deep paths as the program does: Windows refuses a file call past 260
// characters without the long form (Wine does not).
bool SmallDriveMapped(const wchar_t* root, uint64_t mostBytes) {
  ULARGE_INTEGER total{};
  return ::GetDiskFreeSpaceExW(root, nullptr, &total, nullptr) && total.QuadPart <= mostBytes;
}

std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(ForFileSystem(path)), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(std::filesystem::path(ForFileSystem(path)), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool Exists(const std::wstring& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

bool IsDirectory(const std::wstring& path) {
  DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

DWORD Attributes(const std::wstring& path) { return ::GetFileAttributesW(ForFileSystem(path).c_str()); }

std::wstring InstallBrivon(const std::wstring& folder, const std::wstring& name) {
  std::wstring target = folder + L"\\" + name;
  ::CopyFileW(BrivonExePath().c_str(), target.c_str(), FALSE);
  return target;
}

bool InstallArchiveTool(const std::wstring& folder) {
  return ::CopyFileW(ArchiveToolPath().c_str(), (folder + L"\\7za.exe").c_str(), FALSE) != FALSE;
}

std::vector<std::wstring> Sorted(std::vector<std::wstring> names) {
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::wstring> EntryNames(const std::wstring& folder, bool folders) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  UniqueFind find(::FindFirstFileW(ForFileSystem(folder + L"\\*").c_str(), &entry));
  if (!find) return names;
  do {
    const std::wstring name = entry.cFileName;
    const bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (name != L"." && name != L".." && isFolder == folders) names.push_back(name);
  } while (::FindNextFileW(find.get(), &entry));
  std::sort(names.begin(), names.end());
  return names;
}

bool RemoveSystemPowershell() {
  wchar_t windows[MAX_PATH] = {};
  ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
  const std::wstring powershell = std::wstring(windows) + L"\\System32\\WindowsPowerShell\\v1.0\\powershell.exe";
  ::SetFileAttributesW(powershell.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::DeleteFileW(powershell.c_str());
  return !Exists(powershell);
}

}  // namespace brivon::testing
