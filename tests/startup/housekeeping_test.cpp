#include "startup/housekeeping.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/text.h"
#include "startup/unix_link.h"
#include "support/log_lines.h"
#include "support/powershell_standin.h"
#include "support/test_env.h"

namespace brivon {
namespace {

using testing::Exists;
using testing::IsDirectory;
using testing::ListArchive;
using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;

TEST(HousekeepingNamesTest, NeverReplacesAnEarlierArchiveWithASmallerOne) {
  struct Case {
    bool earlierExists;
    uint64_t earlierSize, freshSize;
    ArchivePlacement expected;
  } cases[] = {
      {false, 0, 10, ArchivePlacement::Take},
      {true, 100, 100, ArchivePlacement::Replace},  // the same folder archived again
      {true, 100, 150, ArchivePlacement::Replace},
      {true, 100, 40, ArchivePlacement::Beside},    // the rest of a partly deleted folder
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ChooseArchivePlacement(c.earlierExists, c.earlierSize, c.freshSize), c.expected) << c.freshSize;
  }
  EXPECT_EQ(BesideArchiveName(L"C:\\p\\actualizaciones\\251206_093015.zip", 2),
            L"C:\\p\\actualizaciones\\251206_093015 (2).zip");
  EXPECT_EQ(FreshArchiveName(L"C:\\p\\actualizaciones\\A.zip"), L"C:\\p\\actualizaciones\\A.nuevo.zip");
}

class HousekeepingTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(testing::InstallPowerShellStandIn()); }
  void MakeProgramFolder(const std::wstring& name) {
    program_ = root_ / name;
    ASSERT_TRUE(::CreateDirectoryW(program_.c_str(), nullptr));
    ASSERT_TRUE(::CopyFileW(testing::ArchiveToolPath().c_str(), (program_ + L"\\7za.exe").c_str(), FALSE));
    updates_ = program_ + L"\\actualizaciones";
  }
  void Leftover(const std::wstring& name) {
    ASSERT_TRUE(::CreateDirectoryW(updates_.c_str(), nullptr) || IsDirectory(updates_));
    std::wstring folder = updates_ + L"\\" + name;
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(folder + L"\\Orvane.exe", "MZ old version"));
    ASSERT_TRUE(WriteBytes(folder + L"\\DATOS.MDB", "data"));
  }
  static std::vector<std::wstring> Sorted(std::vector<std::wstring> entries) {
    std::sort(entries.begin(), entries.end());
    return entries;
  }

  TempFolder root_{L"brivon-hk"};
  std::wstring program_, updates_;
};

TEST_F(HousekeepingTest, ArchivesEveryLeftoverFolderAndRemovesIt) {
  MakeProgramFolder(L"Mi programa d'Orvane");  // spaces and an apostrophe reach PowerShell whole
  Leftover(L"251206_093015");
  Leftover(L"251207_101010");
  std::wstring nested = updates_ + L"\\251207_101010\\sub";
  ASSERT_TRUE(::CreateDirectoryW(nested.c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(nested + L"\\solo.txt", "ro"));
  ::SetFileAttributesW((nested + L"\\solo.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  ::SetFileAttributesW(nested.c_str(), FILE_ATTRIBUTE_READONLY);
  ASSERT_TRUE(WriteBytes(updates_ + L"\\antiguo.zip", "earlier archive"));
  ASSERT_TRUE(WriteBytes(updates_ + L"\\nota.txt", "x"));

  RunStartupHousekeeping(program_);

  EXPECT_FALSE(Exists(updates_ + L"\\251206_093015"));
  EXPECT_FALSE(Exists(updates_ + L"\\251207_101010"));
  EXPECT_EQ(Sorted(ListArchive(updates_ + L"\\251206_093015.zip")),
            (std::vector<std::wstring>{L"DATOS.MDB", L"Orvane.exe"}));
  EXPECT_EQ(Sorted(ListArchive(updates_ + L"\\251207_101010.zip")),
            (std::vector<std::wstring>{L"DATOS.MDB", L"Orvane.exe", L"sub", L"sub\\solo.txt"}));
  EXPECT_EQ(ReadBytes(updates_ + L"\\antiguo.zip"), "earlier archive");  // files there are never touched
  EXPECT_EQ(ReadBytes(updates_ + L"\\nota.txt"), "x");
  EXPECT_EQ(Sorted(ListSubfolders(updates_)), std::vector<std::wstring>{});
}

TEST_F(HousekeepingTest, FailedArchivingLeavesTheFolderUntouched) {
  for (const wchar_t* mode : {L"fail", L"silent"}) {  // silent: exit 0 without an archive
    SCOPED_TRACE(std::string(mode, mode + wcslen(mode)));
    TempFolder root(L"brivon-hkf");
    program_ = root.path();
    updates_ = program_ + L"\\actualizaciones";
    Leftover(L"A");
    testing::PowerShellMode misbehave(mode);
    RunStartupHousekeeping(program_);
    EXPECT_EQ(ReadBytes(updates_ + L"\\A\\Orvane.exe"), "MZ old version");
    EXPECT_EQ(ReadBytes(updates_ + L"\\A\\DATOS.MDB"), "data");
    EXPECT_FALSE(Exists(updates_ + L"\\A.zip"));
    EXPECT_FALSE(Exists(updates_ + L"\\A.nuevo.zip"));
  }
}

TEST_F(HousekeepingTest, HungArchiverIsEndedAndTheFolderStays) {
  MakeProgramFolder(L"p");
  Leftover(L"A");
  testing::PowerShellMode hang(L"hang");
  unsigned long code = 0;
  EXPECT_FALSE(ArchiveLeftoverFolder(updates_ + L"\\A", updates_ + L"\\A.zip", &code, 3000));
  EXPECT_NE(code, 0u);
  EXPECT_EQ(ReadBytes(updates_ + L"\\A\\Orvane.exe"), "MZ old version");
  EXPECT_FALSE(Exists(updates_ + L"\\A.zip"));
}

// A folder whose archiving hangs costs a start no more than the budget and is given up after three
// timeouts; a start whose budget is spent leaves the other folders for a later one.
TEST_F(HousekeepingTest, AHungArchiverCostsAStartItsBudgetAndIsGivenUpAfterThreeTimeouts) {
  MakeProgramFolder(L"p");
  Leftover(L"A");
  {
    testing::PowerShellMode hang(L"hang");
    for (int start = 1; start <= 3; ++start) {
      const ULONGLONG before = ::GetTickCount64();
      RunStartupHousekeeping(program_, 1500);
      EXPECT_LT(::GetTickCount64() - before, 20000u);
    }
  }
  Leftover(L"B");
  RunStartupHousekeeping(program_, 0);      // nothing left of the budget
  RunStartupHousekeeping(program_, 60000);  // PowerShell well again
  const std::string a = NarrowLow8(updates_ + L"\\A"), b = NarrowLow8(updates_ + L"\\B");
  const std::string given = "ARCHIVADO_OMITIDO;" + a + ";intentos=" + std::to_string(kHousekeepingTimeoutsBeforeSkip);
  std::vector<std::string> expected = {"ARCHIVADO_AGOTADO;" + a + ";intentos=1", "ARCHIVADO_AGOTADO;" + a + ";intentos=2",
                                       "ARCHIVADO_AGOTADO;" + a + ";intentos=3", given, "ARCHIVADO_APLAZADO;" + b, given};
  std::vector<std::string> seen = testing::LogTexts(program_ + L"\\actualizador_registros\\descargas.csv");
  std::sort(expected.begin(), expected.end());
  std::sort(seen.begin(), seen.end());  // the folders come in listing order
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(ReadBytes(updates_ + L"\\A\\Orvane.exe"), "MZ old version");  // kept, no longer tried
  EXPECT_FALSE(Exists(updates_ + L"\\A.zip"));
  EXPECT_FALSE(Exists(updates_ + L"\\B"));
  EXPECT_EQ(Sorted(ListArchive(updates_ + L"\\B.zip")), (std::vector<std::wstring>{L"DATOS.MDB", L"Orvane.exe"}));
}

// PowerShell 5.1 leaves hidden files out of a folder's archive and ends with 0 (the data-file
// copies keep the hidden attribute of their originals): the folder stays whole, and is not archived
// again at every start.
TEST_F(HousekeepingTest, AFolderItsArchiveDoesNotHoldWholeIsKept) {
  MakeProgramFolder(L"p");
  Leftover(L"A");
  ASSERT_TRUE(WriteBytes(updates_ + L"\\A\\Oculta.BDORVA", "hidden data"));
  ASSERT_TRUE(::SetFileAttributesW((updates_ + L"\\A\\Oculta.BDORVA").c_str(), FILE_ATTRIBUTE_HIDDEN));
  RunStartupHousekeeping(program_);
  RunStartupHousekeeping(program_);
  EXPECT_EQ(ReadBytes(updates_ + L"\\A\\Oculta.BDORVA"), "hidden data");
  EXPECT_EQ(ReadBytes(updates_ + L"\\A\\Orvane.exe"), "MZ old version");
  EXPECT_EQ(Sorted(ListArchive(updates_ + L"\\A.zip")), (std::vector<std::wstring>{L"DATOS.MDB", L"Orvane.exe"}));
  const std::string a = NarrowLow8(updates_ + L"\\A");
  EXPECT_EQ(testing::LogTexts(program_ + L"\\actualizador_registros\\descargas.csv"),
            (std::vector<std::string>{"ARCHIVO_INCOMPLETO;" + a + ";" + a + ".zip;faltan=1",
                                      "ARCHIVADO_OMITIDO;" + a + ";intentos=3"}));
}

TEST_F(HousekeepingTest, ACompleteEarlierArchiveIsNotReplacedByTheRest) {
  MakeProgramFolder(L"p");
  Leftover(L"A");
  std::string big(200000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 2654435761u) >> 13);
  ASSERT_TRUE(WriteBytes(updates_ + L"\\A.zip", big));  // stands for the complete, larger archive
  RunStartupHousekeeping(program_);
  EXPECT_EQ(ReadBytes(updates_ + L"\\A.zip"), big);
  EXPECT_EQ(Sorted(ListArchive(updates_ + L"\\A (2).zip")),
            (std::vector<std::wstring>{L"DATOS.MDB", L"Orvane.exe"}));
  EXPECT_FALSE(Exists(updates_ + L"\\A"));
}

TEST_F(HousekeepingTest, NoUpdatesFolderStartsNothing) {
  MakeProgramFolder(L"p");
  std::wstring calls = root_ / L"llamadas.txt";
  testing::PowerShellCallLog log(calls);
  RunStartupHousekeeping(program_);
  EXPECT_FALSE(Exists(calls));
  EXPECT_FALSE(Exists(updates_));
}

TEST_F(HousekeepingTest, LinksAreNeverFollowedWhenDeleting) {
  const std::wstring scene = testing::UnixLinkScene("unidad");
  if (scene.empty()) GTEST_SKIP() << "no directory links: the startup_unix_links test makes them";
  program_ = scene + L"\\programa";
  updates_ = program_ + L"\\actualizaciones";
  const std::wstring outside = scene + L"\\fuera";
  ASSERT_TRUE(WriteBytes(updates_ + L"\\251206_093015\\Orvane.exe", "MZ old version"));

  RunStartupHousekeeping(program_);

  EXPECT_EQ(ReadBytes(outside + L"\\importante.MDB"), "keep me");
  EXPECT_FALSE(Exists(updates_ + L"\\enlace.zip"));  // never archived through the link
  EXPECT_TRUE(Exists(updates_ + L"\\251206_093015.zip"));
  // Wine 8 removes a Unix link through no file call (RemoveDirectoryW, DeleteFileW, NtDeleteFile,
  // delete-on-close all leave it), so here the links, and the folder holding one, stay for the
  // next start; Windows removes a directory link with RemoveDirectoryW.
}

}  // namespace
}  // namespace brivon
