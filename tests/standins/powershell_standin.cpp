// Stands in for Windows PowerShell in the tests: understands exactly the Compress-Archive
// invocations the program makes and writes a real ZIP archive with the 7za.exe that lies beside
// it. Exit codes: 0 done, 1 the cmdlet failed (as PowerShell reports it), 64 not understood.
// Like the real cmdlet it leaves hidden files and folders out of a folder's archive, and fails on
// a hidden item named itself.
// BRIVON_POWERSHELL_STANDIN=fail | hang | silent makes it fail, hang holding the first file it was
// given, or end with 0 without writing anything (as Wine's own stub does).
// BRIVON_POWERSHELL_STANDIN_LOG=<file> appends every command line it receives (UTF-8).
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/text.h"
#include "common/unique_handle.h"
#include "support/powershell_standin_parse.h"

namespace {

using brivon::UniqueFind;
using brivon::UniqueHandle;
using namespace brivon::testing;

constexpr int kDone = 0;
constexpr int kCmdletFailed = 1;
constexpr int kNotUnderstood = 64;

std::wstring Environment(const wchar_t* name) {
  wchar_t buffer[4096] = {};
  DWORD length = ::GetEnvironmentVariableW(name, buffer, 4096);
  return length && length < 4096 ? std::wstring(buffer, length) : std::wstring();
}

void LogCall(const std::wstring& line) {
  std::wstring log = Environment(L"BRIVON_POWERSHELL_STANDIN_LOG");
  if (log.empty()) return;
  HANDLE file = ::CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  std::string text = brivon::WideToUtf8(line) + "\n";
  DWORD written = 0;
  ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::CloseHandle(file);
}

void Say(const std::wstring& text) { std::fwprintf(stderr, L"%ls\n", text.c_str()); }

std::wstring FullPath(const std::wstring& path) {
  wchar_t buffer[32768] = {};
  DWORD length = ::GetFullPathNameW(path.c_str(), 32768, buffer, nullptr);
  return length && length < 32768 ? std::wstring(buffer, length) : path;
}

std::wstring ParentOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool IsFolder(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsHidden(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN);
}

// What Windows PowerShell 5.1's Compress-Archive leaves out of a folder it takes: its hidden files
// and folders, at every depth (and it still ends with 0). Paths relative to base.
void CollectHidden(const std::wstring& base, const std::wstring& relative, std::vector<std::wstring>* hidden) {
  WIN32_FIND_DATAW entry = {};
  UniqueFind listing(::FindFirstFileW((base + L"\\" + relative + L"\\*").c_str(), &entry));
  if (!listing) return;
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) {
      hidden->push_back(relative + L"\\" + name);
    } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      CollectHidden(base, relative + L"\\" + name, hidden);
    }
  } while (::FindNextFileW(listing.get(), &entry));
}

void Take(const std::wstring& base, const std::wstring& name, std::vector<std::wstring>* names,
          std::vector<std::wstring>* hidden) {
  names->push_back(name);
  if (IsFolder(base + L"\\" + name)) CollectHidden(base, name, hidden);
}

// The items a -Path or -LiteralPath names: their common folder and their names in it, expanded
// as the cmdlet expands them. A hidden item named itself makes the cmdlet fail.
bool ResolveItems(const CompressArchiveCall& call, std::wstring* base, std::vector<std::wstring>* names,
                  std::vector<std::wstring>* hidden) {
  if (call.literalPath) {
    std::wstring full = FullPath(call.path);
    if (::GetFileAttributesW(full.c_str()) == INVALID_FILE_ATTRIBUTES || IsHidden(full)) return false;
    *base = ParentOf(full);
    Take(*base, full.substr(base->size() + 1), names, hidden);
    return true;
  }
  size_t slash = call.path.find_last_of(L"\\/");
  std::wstring folderPattern = slash == std::wstring::npos ? L"." : call.path.substr(0, slash);
  std::wstring leaf = slash == std::wstring::npos ? call.path : call.path.substr(slash + 1);
  if (HasWildcard(folderPattern)) {
    Say(L"wildcards above the last level are not handled: " + call.path);
    return false;
  }
  *base = FullPath(RemoveWildcardEscapes(folderPattern));
  if (!HasWildcard(leaf)) {
    std::wstring name = RemoveWildcardEscapes(leaf);
    const std::wstring full = *base + L"\\" + name;
    if (::GetFileAttributesW(full.c_str()) == INVALID_FILE_ATTRIBUTES || IsHidden(full)) return false;
    Take(*base, name, names, hidden);
    return true;
  }
  WIN32_FIND_DATAW entry = {};
  UniqueFind listing(::FindFirstFileW((*base + L"\\*").c_str(), &entry));
  if (!listing) return false;
  do {
    std::wstring name = entry.cFileName;
    if (name == L"." || name == L".." || (entry.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN)) continue;
    if (MatchesWildcard(leaf, name)) Take(*base, name, names, hidden);
  } while (::FindNextFileW(listing.get(), &entry));
  return !names->empty();
}

void HoldAndHang(const std::wstring& base, const std::vector<std::wstring>& names) {
  std::vector<HANDLE> held;
  for (const auto& name : names) {
    HANDLE file = ::CreateFileW((base + L"\\" + name).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) held.push_back(file);
  }
  ::Sleep(INFINITE);
}

bool WriteList(const std::wstring& path, const std::vector<std::wstring>& names) {
  std::string text;
  for (const auto& name : names) text += brivon::WideToUtf8(name) + "\n";
  brivon::UniqueFile file(
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file && ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

bool RunSevenZip(const std::wstring& base, const std::vector<std::wstring>& names,
                 const std::vector<std::wstring>& hidden, const std::wstring& archive) {
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring tool = ParentOf(self) + L"\\7za.exe";
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  std::wstring list = std::wstring(temp) + L"brivon-standin-" + std::to_wstring(::GetCurrentProcessId()) + L".txt";
  std::wstring excluded = list + L".fuera";
  if (!WriteList(list, names) || !WriteList(excluded, hidden)) return false;
  std::wstring line = L"\"" + tool + L"\" a -tzip -y -bso0 -bsp0 -scsUTF-8 \"" + archive + L"\" \"@" + list +
                      L"\" \"-x@" + excluded + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  bool ok = false;
  if (::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, base.c_str(), &startup,
                       &info)) {
    UniqueHandle process(info.hProcess), thread(info.hThread);
    ::WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 1;
    ok = ::GetExitCodeProcess(process.get(), &code) && code == 0;
    if (!ok) Say(L"7za.exe ended with " + std::to_wstring(code));
  } else {
    Say(L"cannot start " + tool);
  }
  ::DeleteFileW(list.c_str());
  ::DeleteFileW(excluded.c_str());
  return ok;
}

bool EndsWithZip(const std::wstring& path) {
  if (path.size() < 4) return false;
  std::wstring tail = path.substr(path.size() - 4);
  for (auto& c : tail) c = static_cast<wchar_t>(::towlower(c));
  return tail == L".zip";
}

int Run() {
  std::wstring line = ::GetCommandLineW();
  LogCall(line);
  std::vector<std::wstring> words = SplitCommandLine(line);
  if (!words.empty()) words.erase(words.begin());
  std::wstring command, why;
  if (!ReadPowerShellSwitches(words, &command, &why)) return Say(why), kNotUnderstood;
  CompressArchiveCall call;
  if (!ParseCompressArchive(command, &call, &why)) return Say(why + L": " + command), kNotUnderstood;

  std::wstring mode = Environment(L"BRIVON_POWERSHELL_STANDIN");
  std::wstring base;
  std::vector<std::wstring> names, hidden;
  if (!ResolveItems(call, &base, &names, &hidden)) return Say(L"the path does not exist: " + call.path), kCmdletFailed;
  if (mode == L"hang") HoldAndHang(base, names);
  if (mode == L"fail") return Say(L"failing on purpose"), kCmdletFailed;
  if (mode == L"silent") return kDone;

  std::wstring destination = FullPath(call.destination);
  if (!EndsWithZip(destination)) return Say(L"not a .zip archive: " + destination), kCmdletFailed;
  if (!IsFolder(ParentOf(destination))) return Say(L"no folder for " + destination), kCmdletFailed;
  if (::GetFileAttributesW(destination.c_str()) != INVALID_FILE_ATTRIBUTES && !call.force) {
    return Say(L"the archive exists; use -Force: " + destination), kCmdletFailed;
  }
  if (IsFolder(destination)) return Say(L"a folder stands at " + destination), kCmdletFailed;

  // Written aside and put in place whole, so a failure leaves an earlier archive as it was.
  std::wstring partial = ParentOf(destination) + L"\\~standin-" + std::to_wstring(::GetCurrentProcessId()) + L".zip";
  ::DeleteFileW(partial.c_str());
  if (!RunSevenZip(base, names, hidden, partial)) {
    ::DeleteFileW(partial.c_str());
    return kCmdletFailed;
  }
  if (!::MoveFileExW(partial.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    ::DeleteFileW(partial.c_str());
    return Say(L"cannot replace " + destination), kCmdletFailed;
  }
  return kDone;
}

}  // namespace

int wmain() { return Run(); }
