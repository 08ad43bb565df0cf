#include "startup/single_instance.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>

namespace brivon {

std::wstring SingleInstanceMutexName(const std::wstring& programFolder, const wchar_t* space) {
  std::wstring folder = programFolder;
  while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  if (!folder.empty()) ::CharUpperBuffW(folder.data(), static_cast<DWORD>(folder.size()));
  // 64-bit FNV-1a of the UTF-16 units: short, stable, and free of characters a name may not hold.
  uint64_t hash = 1469598103934665603ull;
  for (wchar_t c : folder) {
    hash ^= static_cast<uint16_t>(c);
    hash *= 1099511628211ull;
  }
  wchar_t hex[17];
  std::swprintf(hex, 17, L"%08lx%08lx", static_cast<unsigned long>(hash >> 32), static_cast<unsigned long>(hash));
  return std::wstring(space) + L"\\Brivon-" + hex;
}

namespace {

// One folder started by its short (8.3) name and by its long name is still one folder.
std::wstring LongPathOf(const std::wstring& folder) {
  if (folder.empty()) return folder;
  DWORD needed = ::GetLongPathNameW(folder.c_str(), nullptr, 0);
  if (needed == 0) return folder;
  std::wstring longPath(needed, L'\0');
  DWORD length = ::GetLongPathNameW(folder.c_str(), longPath.data(), needed);
  if (length == 0 || length >= needed) return folder;
  longPath.resize(length);
  return longPath;
}

}  // namespace

SingleInstanceGuard::SingleInstanceGuard(const std::wstring& programFolder) {
  const std::wstring folder = LongPathOf(programFolder);
  // Open to every user: another user's instance must find it, not be refused it.
  SECURITY_DESCRIPTOR everyone;
  ::InitializeSecurityDescriptor(&everyone, SECURITY_DESCRIPTOR_REVISION);
  ::SetSecurityDescriptorDacl(&everyone, TRUE, nullptr, FALSE);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), &everyone, FALSE};
  HANDLE mutex = ::CreateMutexW(&attributes, TRUE, SingleInstanceMutexName(folder).c_str());
  DWORD error = ::GetLastError();
  if (!mutex && error == ERROR_ACCESS_DENIED) {
    // Creating global objects refused (no SeCreateGlobalPrivilege): this session at least.
    mutex = ::CreateMutexW(nullptr, TRUE, SingleInstanceMutexName(folder, L"Local").c_str());
    error = ::GetLastError();
  }
  mutex_.reset(mutex);
  // Without a mutex at all the start goes on: better a rare race than a program that never runs.
  held_ = !(mutex && error == ERROR_ALREADY_EXISTS);
}

}  // namespace brivon
