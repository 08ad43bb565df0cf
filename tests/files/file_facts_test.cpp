#include "files/file_facts.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/test_env.h"

namespace brivon {
namespace {

using testing::TempFolder;
using testing::WriteBytes;

TEST(FileFactsTest, IsExistingFileOnlyForFiles) {
  TempFolder folder;
  ASSERT_TRUE(WriteBytes(folder / L"a.exe", "x"));
  ASSERT_TRUE(WriteBytes(folder / L"oculto.exe", "x"));
  ::SetFileAttributesW((folder / L"oculto.exe").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
  ASSERT_TRUE(::CreateDirectoryW((folder / L"dir.exe").c_str(), nullptr));
  struct Case {
    std::wstring path;
    bool file;
  } cases[] = {
      {folder / L"a.exe", true},     {folder / L"A.EXE", true},        {folder / L"oculto.exe", true},
      {folder / L"dir.exe", false},  {folder / L"falta.exe", false},   {folder.path(), false},
      {folder / L"no\\a.exe", false}, {L"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsExistingFile(c.path), c.file) << c.path;
  ::SetFileAttributesW((folder / L"oculto.exe").c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
}  // namespace brivon
