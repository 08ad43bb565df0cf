// An on-access virus scanner, as far as the program folder can tell: every new file that appears
// in the folder (to three levels down) is opened for reading, with read and write sharing but no
// delete sharing, and held for a moment. Until it lets go, the file cannot be renamed or deleted.
// With "copia", a backup or sync client instead: it reads every new file with read and delete
// sharing but no write sharing, so the file can be renamed or deleted, never opened for writing
// (nor flushed) meanwhile, as a running program's image; it leaves the log folder out, as backup
// selections leave logs. Runs until it is ended.
//   scanner_standin FOLDER HOLD_MS [copia]
#include <windows.h>

#include <cwchar>
#include <deque>
#include <set>
#include <string>

namespace {

struct Held {
  HANDLE file;
  ULONGLONG until;
};

DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
bool backup = false;

void Look(const std::wstring& folder, int depth, std::set<std::wstring>& seen, std::deque<Held>& held, DWORD holdMs) {
  WIN32_FIND_DATAW entry;
  HANDLE listing = ::FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (listing == INVALID_HANDLE_VALUE) return;
  do {
    if (std::wcscmp(entry.cFileName, L".") == 0 || std::wcscmp(entry.cFileName, L"..") == 0) continue;
    const std::wstring path = folder + L"\\" + entry.cFileName;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      const bool logs = backup && depth == 0 && _wcsicmp(entry.cFileName, L"actualizador_registros") == 0;
      if (depth < 3 && !logs && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        Look(path, depth + 1, seen, held, holdMs);
      }
      continue;
    }
    // A name seen with this creation time: a file already scanned (a rename is a new name).
    const std::wstring key = path + L"|" + std::to_wstring(entry.ftCreationTime.dwLowDateTime) + L"|" +
                             std::to_wstring(entry.ftCreationTime.dwHighDateTime);
    if (seen.count(key)) continue;
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (file == INVALID_HANDLE_VALUE) continue;  // still being written without sharing: next time
    seen.insert(key);
    held.push_back({file, ::GetTickCount64() + holdMs});
  } while (::FindNextFileW(listing, &entry));
  ::FindClose(listing);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const std::wstring folder = argv[1];
  const DWORD holdMs = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10));
  if (argc > 3 && std::wcscmp(argv[3], L"copia") == 0) {
    backup = true;
    sharing = FILE_SHARE_READ | FILE_SHARE_DELETE;
  }
  std::set<std::wstring> seen;
  std::deque<Held> held;
  // What is there at the start was scanned long ago.
  {
    std::deque<Held> initial;
    Look(folder, 0, seen, initial, 0);
    for (const Held& h : initial) ::CloseHandle(h.file);
  }
  ::CloseHandle(::CreateFileW((folder + L"\\..\\escaner_listo").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                              nullptr));
  for (;;) {
    Look(folder, 0, seen, held, holdMs);
    const ULONGLONG now = ::GetTickCount64();
    while (!held.empty() && held.front().until <= now) {
      ::CloseHandle(held.front().file);
      held.pop_front();
    }
    ::Sleep(10);
  }
}
