// This test program started again in a helper role (helper_roles_test.cpp): a process that holds a
// file while a test runs.
#pragma once

#include <windows.h>

#include <string>

#include "common/unique_handle.h"
#include "support/environment_variable.h"
#include "support/program_run.h"

namespace brivon::testing {

inline std::wstring SelfPath() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

// Starts this program running only the helper test `role`.
inline UniqueHandle StartRole(const std::wstring& role) {
  ScopedVariable filter(L"GTEST_FILTER", L"InstallRole." + role);
  return StartHidden(L"\"" + SelfPath() + L"\"");
}

}  // namespace brivon::testing
