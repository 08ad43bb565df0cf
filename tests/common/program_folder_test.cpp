#include "common/program_folder.h"

#include <gtest/gtest.h>

#include <utility>

#include "support/test_env.h"

namespace brivon {
namespace {

struct FolderCase {
  std::wstring path;
  unsigned long length;  // as GetModuleFileNameW answered
  std::wstring expected;
};

TEST(ProgramFolderTest, CutsBeforeTheLastSeparatorAndRefusesFailedOrFullBuffers) {
  const std::wstring full(260, L'a');
  const FolderCase cases[] = {
      {L"C:\\Programas\\Orvane\\brivon.exe", 30, L"C:\\Programas\\Orvane"},
      {L"C:\\brivon.exe", 13, L"C:"},
      {L"C:/mixed\\dir/brivon.exe", 23, L"C:/mixed\\dir"},
      {L"brivon.exe", 10, L""},             // no separator at all
      {L"", 0, L""},                        // the call failed
      {full, 260, L""},                     // filled the buffer: truncated, never an ancestor
      {L"C:\\a\\" + std::wstring(254, L'b'), 259, L"C:\\a"},  // the longest path that fits
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ProgramFolderFromModulePath(c.path, c.length), c.expected) << c.length;
  }
}

TEST(ProgramFolderTest, ABareDriveBecomesItsRootAsTheCurrentDirectory) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"X:", L"X:\\"},  // "X:" alone is the drive's remembered directory
      {L"C:\\Programas\\Orvane", L"C:\\Programas\\Orvane"},
      {L"\\\\servidor\\compartida", L"\\\\servidor\\compartida"},
  };
  for (const auto& [folder, expected] : cases) EXPECT_EQ(AsCurrentDirectory(folder), expected);
}

TEST(ProgramFolderTest, IsTheFolderOfTheRunningExecutable) {
  wchar_t module[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  std::wstring path(module);
  EXPECT_EQ(GetProgramFolder(), path.substr(0, path.find_last_of(L'\\')));
}

}  // namespace
}  // namespace brivon
