#include "common/system_library.h"

#include <string>

namespace brivon {
namespace {

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
constexpr DWORD LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x00000800;
#endif

using SetDefaultDllDirectoriesCall = BOOL(WINAPI*)(DWORD);

}  // namespace

bool LoadLibrariesFromSystemFolderOnly() {
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  FARPROC address = kernel ? ::GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
  const auto keepToSystemFolder = reinterpret_cast<SetDefaultDllDirectoriesCall>(reinterpret_cast<void (*)()>(address));
  if (keepToSystemFolder && keepToSystemFolder(LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
  // Without it, at least not from the current folder.
  ::SetDllDirectoryW(L"");
  return false;
}

UniqueModule LoadSystemLibrary(const wchar_t* name) {
  HMODULE module = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr) {  // a Windows 7 without the search flags
    wchar_t system[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
      module = ::LoadLibraryExW((std::wstring(system) + L"\\" + name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
  }
  return UniqueModule(module);
}

namespace {

DWORD WINAPI LoadAhead(LPVOID name) {
  LoadSystemLibrary(static_cast<const wchar_t*>(name)).release();  // loaded until the end
  return 0;
}

}  // namespace

void LoadSystemLibraryAhead(const wchar_t* name) {
  // Without a thread it loads when first called, as it would have anyway.
  UniqueHandle thread(::CreateThread(nullptr, 0, LoadAhead, const_cast<wchar_t*>(name), 0, nullptr));
}

}  // namespace brivon
