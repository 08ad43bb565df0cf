// Helper roles: this test program, started again by a test with GTEST_FILTER set to one of them,
// acts as another process. In an ordinary run they skip.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/unique_handle.h"
#include "support/test_env.h"
#include "update/helper_roles.h"

namespace brivon {
namespace {

using testing::GetEnv;

// Holds BRIVON_HOLD_FILE open with share mode BRIVON_HOLD_SHARE for BRIVON_HOLD_MS, then lets go.
// BRIVON_HOLD_FILE + ".held" appears once the file is held.
TEST(InstallRole, HoldFile) {
  std::wstring path = GetEnv(L"BRIVON_HOLD_FILE");
  if (path.empty()) GTEST_SKIP() << "helper role";
  DWORD share = std::stoul(GetEnv(L"BRIVON_HOLD_SHARE"));
  DWORD ms = std::stoul(GetEnv(L"BRIVON_HOLD_MS"));
  UniqueFile held(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(held);
  UniqueFile signal(::CreateFileW((path + L".held").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  signal.reset();
  ::Sleep(ms);
}

}  // namespace
}  // namespace brivon
