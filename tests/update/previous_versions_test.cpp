#include "update/previous_versions.h"

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "common/text.h"
#include "common/unique_handle.h"
#include "sevenzip/child_process.h"
#include "support/archive_reading.h"
#include "support/log_lines.h"
#include "support/test_env.h"
#include "update/time_stamp_names.h"

namespace brivon {
namespace {

using testing::TempFolder;

SYSTEMTIME At(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
  SYSTEMTIME t = {};
  t.wYear = year, t.wMonth = month, t.wDay = day, t.wHour = hour, t.wMinute = minute, t.wSecond = second;
  return t;
}

TEST(ArchiveTimeStampTest, TwoDigitFieldsWithTheYearModuloAHundred) {
  struct Case {
    SYSTEMTIME when;
    const wchar_t* stamp;
  } cases[] = {
      {At(2025, 12, 6, 9, 30, 15), L"251206_093015"},
      {At(2005, 3, 7, 0, 0, 0), L"050307_000000"},
      {At(2000, 1, 1, 1, 2, 3), L"000101_010203"},
      {At(1999, 12, 31, 23, 59, 59), L"991231_235959"},
      {At(2100, 10, 10, 10, 10, 10), L"001010_101010"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ArchiveTimeStamp(c.when), c.stamp);
    EXPECT_EQ(VersionArchiveName(c.when), std::wstring(c.stamp) + L"_brivon");
  }
}

const SYSTEMTIME kWorkedExample = At(2025, 12, 6, 9, 30, 15);

TEST(MovePreviousVersionTest, MovesIntoAFolderNamedByTheTime) {
  struct Case {
    SYSTEMTIME when;
    const wchar_t* stamp;
  } cases[] = {{kWorkedExample, L"251206_093015"}, {At(2005, 3, 7, 8, 5, 9), L"050307_080509"}};
  for (const auto& c : cases) {
    TempFolder app;
    ASSERT_TRUE(testing::WriteBytes(app / L"Programa2.exe", "MZ previous"));
    std::wstring destination = L"x", folder = L"y";
    EXPECT_TRUE(MovePreviousVersionAt(app.path(), app / L"Programa2.exe", L"Programa", &destination, &folder, c.when));
    std::wstring expectedFolder = app.path() + L"\\actualizaciones\\" + c.stamp;
    EXPECT_EQ(folder, expectedFolder);
    EXPECT_EQ(destination, expectedFolder + L"\\Programa.exe");
    EXPECT_EQ(testing::ReadBytes(destination), "MZ previous");
    EXPECT_FALSE(testing::Exists(app / L"Programa2.exe"));
    EXPECT_TRUE(testing::LogTexts(app.path(), L"descargas.csv").empty());
  }
}

// One time stamp for two versions (one local second, the hour repeated when daylight saving time
// ends): the earlier version and its archive are never replaced.
TEST(MovePreviousVersionTest, AStampAlreadyTakenGetsAFreeFolder) {
  struct Case {
    const char* name;
    const wchar_t* taken;  // made under "\actualizaciones" before the move
    bool isFolder;
    const wchar_t* expectedFolder;
  } cases[] = {
      {"the folder of a move in the same second", L"251206_093015", true, L"251206_093015_1"},
      {"the archive of a folder made an hour earlier", L"251206_093015.zip", false, L"251206_093015_1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder app;
    const std::wstring updates = app / L"actualizaciones";
    ASSERT_TRUE(::CreateDirectoryW(updates.c_str(), nullptr));
    const std::wstring taken = updates + L"\\" + c.taken;
    if (c.isFolder) {
      ASSERT_TRUE(::CreateDirectoryW(taken.c_str(), nullptr));
      ASSERT_TRUE(testing::WriteBytes(taken + L"\\Programa.exe", "first"));
    } else {
      ASSERT_TRUE(testing::WriteBytes(taken, "earlier archive"));
    }
    ASSERT_TRUE(testing::WriteBytes(app / L"Programa2.exe", "second"));
    std::wstring destination, folder;
    EXPECT_TRUE(MovePreviousVersionAt(app.path(), app / L"Programa2.exe", L"Programa", &destination, &folder,
                                      kWorkedExample));
    EXPECT_EQ(folder, updates + L"\\" + c.expectedFolder);
    EXPECT_EQ(testing::ReadBytes(destination), "second");
    EXPECT_EQ(testing::ReadBytes(c.isFolder ? taken + L"\\Programa.exe" : taken), c.isFolder ? "first" : "earlier archive");
  }
}

TEST(MovePreviousVersionTest, NothingToMoveMakesNothing) {
  TempFolder app;
  ASSERT_TRUE(::CreateDirectoryW((app / L"Carpeta2.exe").c_str(), nullptr));
  for (const wchar_t* name : {L"Programa2.exe", L"Carpeta2.exe"}) {
    std::wstring destination = L"x", folder = L"y";
    EXPECT_FALSE(MovePreviousVersionAt(app.path(), app / name, L"Programa", &destination, &folder, kWorkedExample));
    EXPECT_EQ(destination, L"");
    EXPECT_EQ(folder, L"");
    EXPECT_FALSE(testing::Exists(app / L"actualizaciones"));
  }
}

TEST(MovePreviousVersionTest, AHeldFileIsLoggedAndStays) {
  TempFolder app;
  std::wstring file = app / L"Programa2.exe";
  ASSERT_TRUE(testing::WriteBytes(file, "MZ held"));
  UniqueFile held(::CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(held);
  testing::ScopedVariable shortWait(L"BRIVON_TEST_FILE_WAIT_MS", L"300");  // held for good
  std::wstring destination, folder;
  EXPECT_FALSE(MovePreviousVersionAt(app.path(), file, L"Programa", &destination, &folder, kWorkedExample));
  held.reset();
  std::wstring target = app.path() + L"\\actualizaciones\\251206_093015\\Programa.exe";
  auto texts = testing::LogTexts(app.path(), L"descargas.csv");
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], "ERROR_MOVER_A_ACTUALIZACIONES_CARPETA;" + NarrowLow8(file) + ";->;" + NarrowLow8(target) +
                          ";err=" + std::to_string(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(testing::ReadBytes(file), "MZ held");
  EXPECT_TRUE(testing::IsDirectory(app.path() + L"\\actualizaciones\\251206_093015"));
  EXPECT_FALSE(testing::Exists(target));
}

// ArchiveToVersionsFolder with the real 7za.exe in the program folder.
class ArchiveToVersionsFolderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(testing::InstallArchiveTool(root_.path())); }
  TempFolder root_;
};

TEST_F(ArchiveToVersionsFolderTest, LeavesOnlyTheArchiveHoldingTheFileUnderItsNewName) {
  const wchar_t* programFolders[] = {L"App", L"Program Files\\Mi App", L"O'Neil's  $app `[1]",
                                     L"Espa\x00f1" L"a \x00e1rbol"};
  for (const wchar_t* name : programFolders) {
    std::wstring app = root_ / name;
    ASSERT_EQ(::SHCreateDirectoryExW(nullptr, app.c_str(), nullptr), ERROR_SUCCESS);
    ASSERT_TRUE(testing::InstallArchiveTool(app));
    std::wstring file = app + L"\\brivon2.exe";
    ASSERT_TRUE(testing::WriteBytes(file, "MZ brivon previous"));
    std::wstring archive = L"unchanged";
    ASSERT_TRUE(ArchiveToVersionsFolderAt(app, file, &archive, kWorkedExample)) << NarrowLow8(name);
    std::wstring versions = app + L"\\versiones";
    EXPECT_EQ(archive, versions + L"\\251206_093015_brivon.zip");
    EXPECT_FALSE(testing::Exists(file));
    EXPECT_FALSE(testing::Exists(versions + L"\\251206_093015_brivon.exe"));
    EXPECT_EQ(testing::ListArchive(archive), std::vector<std::wstring>{L"251206_093015_brivon.exe"});
    TempFolder out;
    ASSERT_TRUE(testing::ExtractWithSevenZip(archive, out.path()));
    EXPECT_EQ(testing::ReadBytes(out / L"251206_093015_brivon.exe"), "MZ brivon previous");
  }
}

TEST_F(ArchiveToVersionsFolderTest, ASecondClosingInTheSameSecondKeepsTheFirstArchive) {
  std::wstring file = root_ / L"brivon2.exe";
  std::vector<std::wstring> archives;
  for (const char* content : {"MZ first", "MZ second"}) {
    ASSERT_TRUE(testing::WriteBytes(file, content));
    std::wstring archive;
    ASSERT_TRUE(ArchiveToVersionsFolderAt(root_.path(), file, &archive, At(2005, 1, 2, 3, 4, 5)));
    archives.push_back(archive);
  }
  const std::wstring versions = root_.path() + L"\\versiones\\";
  EXPECT_EQ(archives, (std::vector<std::wstring>{versions + L"050102_030405_brivon.zip",
                                                 versions + L"050102_030405_brivon_1.zip"}));
  const std::pair<const wchar_t*, const char*> inside[] = {{L"050102_030405_brivon.exe", "MZ first"},
                                                           {L"050102_030405_brivon_1.exe", "MZ second"}};
  for (size_t i = 0; i < archives.size(); ++i) {
    TempFolder out;
    ASSERT_TRUE(testing::ExtractWithSevenZip(archives[i], out.path()));
    EXPECT_EQ(testing::ReadBytes(out / inside[i].first), inside[i].second);
  }
}

// The file is the only copy of the replaced version: whatever goes wrong with its archive, it ends
// up back where it was.
TEST_F(ArchiveToVersionsFolderTest, AFailedArchivingPutsTheFileBack) {
  struct Case {
    const char* name;
    bool noTool;
    bool freshNameTaken;  // a folder where 7-Zip would write the archive: never removed
    unsigned long code;
  } cases[] = {
      {"no 7za.exe", true, false, 2},
      {"a folder where the archive is written", false, true, ERROR_ALREADY_EXISTS},
  };
  std::wstring file = root_ / L"brivon2.exe";
  std::wstring versions = root_.path() + L"\\versiones";
  std::wstring fresh = versions + L"\\251206_093015_brivon.nuevo.zip";
  for (const auto& c : cases) {
    ASSERT_TRUE(testing::WriteBytes(file, "MZ only copy"));
    if (c.noTool) {
      ASSERT_TRUE(::DeleteFileW((root_ / L"7za.exe").c_str()));
    }
    if (c.freshNameTaken) {
      ASSERT_TRUE(::CreateDirectoryW(versions.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
      ASSERT_TRUE(::CreateDirectoryW(fresh.c_str(), nullptr));
      ASSERT_TRUE(testing::WriteBytes(fresh + L"\\dentro", "x"));
    }
    std::wstring archive = L"unchanged";
    unsigned long code = 12345;
    EXPECT_FALSE(ArchiveToVersionsFolderAt(root_.path(), file, &archive, kWorkedExample, &code)) << c.name;
    EXPECT_EQ(archive, L"");
    EXPECT_EQ(testing::ReadBytes(file), "MZ only copy") << c.name;
    EXPECT_FALSE(testing::Exists(versions + L"\\251206_093015_brivon.exe")) << c.name;
    EXPECT_FALSE(testing::Exists(versions + L"\\251206_093015_brivon.zip")) << c.name;
    EXPECT_EQ(code, c.code) << c.name;
    if (c.noTool) {
      ASSERT_TRUE(testing::InstallArchiveTool(root_.path()));
    }
  }
}

TEST_F(ArchiveToVersionsFolderTest, NoFileNoFolder) {
  std::wstring archive = L"unchanged";
  EXPECT_FALSE(ArchiveToVersionsFolderAt(root_.path(), root_ / L"brivon2.exe", &archive, kWorkedExample));
  EXPECT_EQ(archive, L"");
  EXPECT_FALSE(testing::Exists(root_ / L"versiones"));
}

}  // namespace
}  // namespace brivon
