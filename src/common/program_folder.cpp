#include "common/program_folder.h"

#include <windows.h>

namespace brivon {

std::wstring ProgramFolderFromModulePath(std::wstring_view path, unsigned long length) {
  if (length == 0 || length >= MAX_PATH || length > path.size()) return {};
  std::wstring_view used = path.substr(0, length);
  size_t cut = used.find_last_of(L"\\/");
  if (cut == std::wstring_view::npos) return {};
  return std::wstring(used.substr(0, cut));
}

std::wstring GetProgramFolder() {
  // Asked once: the program's file does not move while it runs, and each asking waits for the
  // loader, which a library loading on another thread holds.
  static const std::wstring folder = [] {
    wchar_t buffer[MAX_PATH] = {};
    DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return ProgramFolderFromModulePath(std::wstring_view(buffer, MAX_PATH), length);
  }();
  return folder;
}

std::wstring AsCurrentDirectory(std::wstring_view folder) {
  if (folder.size() == 2 && folder[1] == L':') return std::wstring(folder) + L"\\";
  return std::wstring(folder);
}

}  // namespace brivon
