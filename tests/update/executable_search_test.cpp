#include "update/executable_search.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/test_env.h"
#include "support/unix_link.h"

namespace brivon {
namespace {

using testing::Exists;
using testing::TempFolder;
using testing::WriteBytes;

std::vector<std::wstring> Collect(const std::wstring& folder) {
  std::vector<std::wstring> found;
  CollectExecutables(folder, found);
  return found;
}

std::vector<std::wstring> Relative(const std::vector<std::wstring>& paths, const std::wstring& root) {
  std::vector<std::wstring> relative;
  for (const auto& p : paths) relative.push_back(p.compare(0, root.size(), root) == 0 ? p.substr(root.size()) : p);
  return relative;
}

TEST(ExecutableSearchTest, CollectExecutablesDepthFirstByExtensionOnly) {
  TempFolder folder;
  std::wstring root = folder / L"Paquete";
  for (const wchar_t* dir : {L"", L"\\a", L"\\a\\b", L"\\vacia", L"\\x.exe"}) {
    ASSERT_TRUE(::CreateDirectoryW((root + dir).c_str(), nullptr));
  }
  for (const wchar_t* file : {L"\\a\\b\\Uno.EXE", L"\\a\\Dos.exe", L"\\Tres.exe.bak", L"\\Cuatro", L"\\exe",
                              L"\\Cinco.Exe", L"\\x.exe\\Siete.exe"}) {
    ASSERT_TRUE(WriteBytes(root + file, "MZ"));
  }
  std::vector<std::wstring> found = Relative(Collect(root), root);
  std::vector<std::wstring> subtreeA = {L"\\a\\b\\Uno.EXE", L"\\a\\Dos.exe"};
  // Listing order is the file system's: check the members and that a subfolder's files stay together.
  std::vector<std::wstring> sorted = found;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, (std::vector<std::wstring>{L"\\Cinco.Exe", L"\\a\\Dos.exe", L"\\a\\b\\Uno.EXE",
                                               L"\\x.exe\\Siete.exe"}));
  auto uno = std::find(found.begin(), found.end(), L"\\a\\b\\Uno.EXE");
  auto dos = std::find(found.begin(), found.end(), L"\\a\\Dos.exe");
  ASSERT_NE(uno, found.end());
  ASSERT_NE(dos, found.end());
  EXPECT_EQ(std::abs(uno - dos), 1) << "a subfolder's executables come where it is met";
}

TEST(ExecutableSearchTest, CollectExecutablesAppendsAndSkipsMissingFolders) {
  TempFolder folder;
  ASSERT_TRUE(WriteBytes(folder / L"Programa.exe", "MZ"));
  std::vector<std::wstring> found = {L"antes"};
  CollectExecutables(folder / L"falta", found);
  CollectExecutables(folder.path(), found);
  EXPECT_EQ(found, (std::vector<std::wstring>{L"antes", folder / L"Programa.exe"}));
}

// A folder link is not followed: it may point anywhere on the disk, or at one of its own parents.
// Wine 8 makes no link itself: the scene's Unix links (make_unix_links) stand in for them.
TEST(ExecutableSearchTest, CollectExecutablesDoesNotFollowFolderLinks) {
  if (!testing::KitRoot().empty()) GTEST_SKIP() << testing::kNeedsUnixLinks;
  const std::wstring scene = testing::UnixLinkScene("paquete");
  ASSERT_FALSE(scene.empty()) << "no directory links: the make_unix_links test makes them";
  const std::wstring root = scene + L"\\programa\\actualizaciones";  // links at two levels
  ASSERT_TRUE(WriteBytes(scene + L"\\fuera\\Ajeno.exe", "MZ"));
  ASSERT_TRUE(WriteBytes(root + L"\\Programa.exe", "MZ"));
  ASSERT_TRUE(Exists(root + L"\\enlace\\Ajeno.exe"));
  EXPECT_EQ(Collect(root), (std::vector<std::wstring>{root + L"\\Programa.exe"}));
}

TEST(ExecutableSearchTest, IsFolderEmpty) {
  TempFolder folder;
  for (const wchar_t* dir : {L"\\vacia", L"\\con_sub", L"\\con_sub\\sub", L"\\con_archivo", L"\\oculto"}) {
    ASSERT_TRUE(::CreateDirectoryW((folder.path() + dir).c_str(), nullptr));
  }
  ASSERT_TRUE(WriteBytes(folder / L"con_archivo\\a.txt", ""));
  ASSERT_TRUE(WriteBytes(folder / L"oculto\\h", "x"));
  ::SetFileAttributesW((folder / L"oculto\\h").c_str(), FILE_ATTRIBUTE_HIDDEN);
  struct Case {
    std::wstring path;
    bool empty;
  } cases[] = {
      {folder / L"vacia", true},        {folder / L"con_sub", false}, {folder / L"con_archivo", false},
      {folder / L"oculto", false},      {folder / L"falta", true},    {folder / L"con_archivo\\a.txt", true},
  };
  for (const auto& c : cases) EXPECT_EQ(IsFolderEmpty(c.path), c.empty) << c.path;
}

}  // namespace
}  // namespace brivon
