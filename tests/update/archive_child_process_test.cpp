#include "update/child_process.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "support/test_env.h"

namespace brivon {
namespace {

using testing::TempFolder;

std::wstring Probe(const std::wstring& arguments) {
  return L"\"" + testing::TestToolPath(L"brivon_child_probe.exe") + L"\" " + arguments;
}

TEST(ChildProcessTest, ReportsTheChildsOwnExitCode) {
  struct Case {
    const wchar_t* arguments;
    unsigned long code;
  } cases[] = {{L"exit 0", 0}, {L"exit 1", 1}, {L"exit 2", 2}, {L"exit 255", 255}, {L"exit 3221225477", 3221225477u}};
  for (const auto& c : cases) {
    unsigned long code = 12345;
    EXPECT_TRUE(RunHiddenProcess(Probe(c.arguments), &code)) << c.arguments;
    EXPECT_EQ(code, c.code) << c.arguments;
  }
}

TEST(ChildProcessTest, AProgramThatCannotStartGivesTheSystemError) {
  TempFolder folder;
  unsigned long code = 0;
  EXPECT_FALSE(RunHiddenProcess(L"\"" + (folder / L"no such tool.exe") + L"\" x", &code));
  EXPECT_EQ(code, static_cast<unsigned long>(ERROR_FILE_NOT_FOUND));
}

// A hung child is ended at the limit, and by the time the call returns neither it nor anything it
// started holds its files any more.
TEST(ChildProcessTest, AHungChildIsEndedAtTheLimitAndReleasesItsFiles) {
  TempFolder folder;
  struct Case {
    const char* name;
    std::wstring arguments;
  } cases[] = {
      {"child holds", L"hold \"" + (folder / L"held by child.txt") + L"\" 600000"},
      {"grandchild holds", L"spawn-hold \"" + (folder / L"held by grandchild.txt") + L"\""},
  };
  for (const auto& c : cases) {
    std::wstring held = c.arguments.substr(c.arguments.find(L'"') + 1);
    held = held.substr(0, held.find(L'"'));
    unsigned long code = 0;
    DWORD start = ::GetTickCount();
    EXPECT_TRUE(RunHiddenProcess(Probe(c.arguments), &code, 1500)) << c.name;
    DWORD took = ::GetTickCount() - start;
    EXPECT_EQ(code, kChildTimedOutExitCode) << c.name;
    EXPECT_LT(took, 20000u) << c.name;
    ASSERT_TRUE(testing::Exists(held)) << c.name;  // it did start and open the file
    EXPECT_TRUE(::DeleteFileW(held.c_str())) << c.name << " err=" << ::GetLastError();
  }
}

TEST(ChildProcessTest, TheTimedOutCodeIsNoToolsOwnCode) {
  // 7-Zip uses 0..8 and 255; PowerShell 0, 1 and small codes; system errors stay below 0x10000.
  EXPECT_GT(kChildTimedOutExitCode, 0xFFFFu);
  EXPECT_NE(kChildTimedOutExitCode, STILL_ACTIVE);
}

}  // namespace
}  // namespace brivon
