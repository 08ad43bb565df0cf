#include "sevenzip/child_process.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/test_env.h"

namespace brivon {
namespace {

using testing::TempFolder;

std::wstring Probe(const std::wstring& arguments) {
  return L"\"" + testing::TestToolPath(L"brivon_child_probe.exe") + L"\" " + arguments;
}

// The plain run, or (piped) the run whose output is read through a pipe into *output.
bool RunChild(bool piped, const std::wstring& commandLine, unsigned long* code, unsigned long timeoutMs,
              std::string* output = nullptr) {
  if (!piped) return RunHiddenProcess(commandLine, code, timeoutMs);
  std::string read;
  bool ran = RunHiddenProcessPiped(
      commandLine, [&](const char* data, size_t size) { read.append(data, size); }, code, timeoutMs);
  if (output) *output = read;
  return ran;
}

TEST(ChildProcessTest, ReportsTheChildsOwnExitCode) {
  struct Case {
    const wchar_t* arguments;
    unsigned long code;
    std::string output;  // through the pipe
  } cases[] = {{L"exit 0", 0, ""},
               {L"exit 1", 1, ""},
               {L"exit 2", 2, ""},
               {L"exit 255", 255, ""},
               {L"exit 3221225477", 3221225477u, ""},
               // Far more than the pipe holds: the child only ends if the pipe is emptied as it writes.
               {L"write 300000", 0, std::string(300000, 'o') + "e"}};
  for (bool piped : {false, true}) {
    for (const auto& c : cases) {
      unsigned long code = 12345;
      std::string output = "unread";
      EXPECT_TRUE(RunChild(piped, Probe(c.arguments), &code, 20000, &output)) << c.arguments << " piped=" << piped;
      EXPECT_EQ(code, c.code) << c.arguments << " piped=" << piped;
      if (piped) {
        EXPECT_TRUE(output == c.output) << c.arguments << ": " << output.size() << " bytes";
      }
    }
  }
}

TEST(ChildProcessTest, AProgramThatCannotStartGivesTheSystemError) {
  TempFolder folder;
  for (bool piped : {false, true}) {
    unsigned long code = 0;
    EXPECT_FALSE(RunChild(piped, L"\"" + (folder / L"no such tool.exe") + L"\" x", &code, kChildProcessTimeoutMs))
        << piped;
    EXPECT_EQ(code, static_cast<unsigned long>(ERROR_FILE_NOT_FOUND)) << piped;
  }
}

// A hung child is ended at the limit, and by the time the call returns neither it nor anything it
// started holds its files any more.
TEST(ChildProcessTest, AHungChildIsEndedAtTheLimitAndReleasesItsFiles) {
  TempFolder folder;
  struct Case {
    const char* name;
    std::wstring arguments;
    bool piped;  // a silent child: the read must not wait past the limit either
  } cases[] = {
      {"child holds", L"hold \"" + (folder / L"held by child.txt") + L"\" 600000", false},
      {"grandchild holds", L"spawn-hold \"" + (folder / L"held by grandchild.txt") + L"\"", false},
      {"child holds, piped", L"hold \"" + (folder / L"held by piped child.txt") + L"\" 600000", true},
      {"grandchild holds, piped", L"spawn-hold \"" + (folder / L"held by piped grandchild.txt") + L"\"", true},
  };
  for (const auto& c : cases) {
    std::wstring held = c.arguments.substr(c.arguments.find(L'"') + 1);
    held = held.substr(0, held.find(L'"'));
    unsigned long code = 0;
    DWORD start = ::GetTickCount();
    EXPECT_TRUE(RunChild(c.piped, Probe(c.arguments), &code, 1500)) << c.name;
    DWORD took = ::GetTickCount() - start;
    EXPECT_EQ(code, kChildTimedOutExitCode) << c.name;
    EXPECT_LT(took, 20000u) << c.name;
    ASSERT_TRUE(testing::Exists(held)) << c.name;  // it did start and open the file
    EXPECT_TRUE(::DeleteFileW(held.c_str())) << c.name << " err=" << ::GetLastError();
  }
}

TEST(ChildProcessTest, TheTimedOutCodeIsNoToolsOwnCode) {
  // 7-Zip uses 0..8 and 255; system errors stay below 0x10000.
  EXPECT_GT(kChildTimedOutExitCode, 0xFFFFu);
  EXPECT_NE(kChildTimedOutExitCode, STILL_ACTIVE);
}

}  // namespace
}  // namespace brivon
