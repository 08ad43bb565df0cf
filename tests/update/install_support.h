// Helpers of the install tests: this test program started again in a helper role (a process that
// holds a file, a stand-in archive tool), scoped environment variables, and hand-made ZIP archives.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/unique_handle.h"

namespace brivon::testing {

inline std::wstring SelfPath() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

inline std::wstring GetEnv(const wchar_t* name) {
  wchar_t value[1024] = {};
  DWORD length = ::GetEnvironmentVariableW(name, value, 1024);
  return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
}

// Sets an environment variable (inherited by children started meanwhile) and restores it.
class ScopedEnv {
 public:
  ScopedEnv(const wchar_t* name, const std::wstring& value) : name_(name), old_(GetEnv(name)) {
    ::SetEnvironmentVariableW(name, value.c_str());
  }
  ~ScopedEnv() { ::SetEnvironmentVariableW(name_, old_.empty() ? nullptr : old_.c_str()); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const wchar_t* name_;
  std::wstring old_;
};

// Starts this program running only the helper test `role` (see install_roles_test.cpp).
inline UniqueHandle StartRole(const std::wstring& role) {
  ScopedEnv filter(L"GTEST_FILTER", L"InstallRole." + role);
  std::wstring line = L"\"" + SelfPath() + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info)) {
    return UniqueHandle();
  }
  ::CloseHandle(info.hThread);
  return UniqueHandle(info.hProcess);
}

// Runs a command line to its end; returns its exit code (0xFFFFFFFF when it could not start).
inline DWORD RunToEnd(std::wstring commandLine) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info)) {
    return 0xFFFFFFFF;
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  ::WaitForSingleObject(process.get(), 120000);
  DWORD code = 0xFFFFFFFF;
  ::GetExitCodeProcess(process.get(), &code);
  return code;
}

inline uint32_t Crc32(const std::string& data) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : data) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

// A ZIP archive with the given entries stored as written (names taken verbatim, "../" included):
// 7-Zip's own "a" command never writes such names.
inline std::string MakeStoredZip(const std::vector<std::pair<std::string, std::string>>& entries) {
  auto le16 = [](std::string& out, uint32_t v) { out.append({char(v & 0xFF), char((v >> 8) & 0xFF)}); };
  auto le32 = [&](std::string& out, uint32_t v) {
    le16(out, v & 0xFFFF);
    le16(out, v >> 16);
  };
  std::string archive, directory;
  for (const auto& [name, data] : entries) {
    uint32_t offset = static_cast<uint32_t>(archive.size());
    uint32_t crc = Crc32(data);
    le32(archive, 0x04034b50);
    le16(archive, 10), le16(archive, 0), le16(archive, 0), le16(archive, 0), le16(archive, 0x21);
    le32(archive, crc), le32(archive, data.size()), le32(archive, data.size());
    le16(archive, name.size()), le16(archive, 0);
    archive += name + data;
    le32(directory, 0x02014b50);
    le16(directory, 20), le16(directory, 10), le16(directory, 0), le16(directory, 0), le16(directory, 0);
    le16(directory, 0x21);
    le32(directory, crc), le32(directory, data.size()), le32(directory, data.size());
    le16(directory, name.size()), le16(directory, 0), le16(directory, 0), le16(directory, 0), le16(directory, 0);
    le32(directory, 0), le32(directory, offset);
    directory += name;
  }
  uint32_t directoryOffset = static_cast<uint32_t>(archive.size());
  archive += directory;
  le32(archive, 0x06054b50);
  le16(archive, 0), le16(archive, 0), le16(archive, entries.size()), le16(archive, entries.size());
  le32(archive, directory.size()), le32(archive, directoryOffset), le16(archive, 0);
  return archive;
}

}  // namespace brivon::testing
