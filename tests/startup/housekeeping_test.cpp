#include "startup/housekeeping.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "archive/archive_listing.h"
#include "common/long_path.h"
#include "common/text.h"
#include "startup/unix_link.h"
#include "support/archive_reading.h"
#include "support/log_lines.h"
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

// Only a folder's own failures count toward its strikes; a start whose budget ran out is none.
TEST(HousekeepingNamesTest, WhatAFailureCountsAs) {
  struct Case {
    unsigned long code, givenMs, folderLimitMs;
    LeftoverFailure expected;
  } cases[] = {
      {kChildTimedOutExitCode, 120000, 120000, LeftoverFailure::TimedOut},
      {kChildTimedOutExitCode, 45000, 120000, LeftoverFailure::CutByBudget},  // the budget's end came first
      {1, 45000, 120000, LeftoverFailure::Failed},                            // a warning: a file left out
      {2, 120000, 120000, LeftoverFailure::Failed},
      {0, 120000, 120000, LeftoverFailure::Failed},  // ended 0 yet no archive
      {ERROR_ACCESS_DENIED, 120000, 120000, LeftoverFailure::Failed},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ClassifyLeftoverFailure(c.code, c.givenMs, c.folderLimitMs), c.expected) << c.code << " " << c.givenMs;
  }
}

TEST(HousekeepingNamesTest, CountsFilesTheArchiveLacksOrHoldsWithAnotherSize) {
  const std::map<std::wstring, uint64_t> folder = {{L"a.exe", 10}, {L"sub\\b.MDB", 0}, {L".oculto", 5}};
  struct Case {
    std::map<std::wstring, uint64_t> stored;
    size_t missing;
  } cases[] = {
      {folder, 0},
      {{{L"a.exe", 10}, {L"sub\\b.MDB", 0}, {L".oculto", 5}, {L"extra", 1}}, 0},
      {{{L"a.exe", 10}, {L"sub\\b.MDB", 0}}, 1},
      {{{L"a.exe", 9}, {L"sub\\b.MDB", 0}, {L".oculto", 5}}, 1},
      {{}, 3},
  };
  for (const auto& c : cases) EXPECT_EQ(CountMissingFiles(folder, c.stored), c.missing) << c.stored.size();
}

// Deep folders reach the file calls in the "\\?\" form; a path the system would have to clean up
// first stays as it is.
TEST(HousekeepingNamesTest, LongPathForm) {
  struct Case {
    const wchar_t* path;
    const wchar_t* expected;
  } cases[] = {
      {L"C:\\App\\actualizaciones\\251206_093015", L"\\\\?\\C:\\App\\actualizaciones\\251206_093015"},
      {L"c:\\", L"\\\\?\\c:\\"},
      {L"\\\\servidor\\datos\\App", L"\\\\?\\UNC\\servidor\\datos\\App"},
      {L"\\\\?\\C:\\App", L"\\\\?\\C:\\App"},
      {L"\\\\.\\COM1", L"\\\\.\\COM1"},
      {L"C:\\App\\..\\Otra", L"C:\\App\\..\\Otra"},
      {L"C:\\App\\.\\x", L"C:\\App\\.\\x"},
      {L"C:\\App\\\\x", L"C:\\App\\\\x"},
      {L"C:/App/x", L"C:/App/x"},
      {L"C:App", L"C:App"},
      {L"App\\x", L"App\\x"},
      {L"\\\\servidor", L"\\\\servidor"},
  };
  for (const auto& c : cases) EXPECT_EQ(LongPathForm(c.path), c.expected) << NarrowLow8(c.path);
}

class HousekeepingTest : public ::testing::Test {
 protected:
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
  // A data file too large to archive within a second: 20 GB, sparse, so it costs no disk.
  void HugeFile(const std::wstring& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size;
    size.QuadPart = 20LL * 1000 * 1000 * 1000;
    EXPECT_TRUE(::SetFilePointerEx(file, size, nullptr, FILE_BEGIN) && ::SetEndOfFile(file));
    ::CloseHandle(file);
  }
  std::vector<std::string> Log() const {
    return testing::LogTexts(program_ + L"\\actualizador_registros\\descargas.csv");
  }
  static std::vector<std::wstring> Sorted(std::vector<std::wstring> entries) {
    std::sort(entries.begin(), entries.end());
    return entries;
  }

  // Files here are held for good, or not at all: the outcome is the same after a shorter wait.
  void SetUp() override { ::SetEnvironmentVariableW(L"BRIVON_TEST_FILE_WAIT_MS", L"300"); }
  void TearDown() override { ::SetEnvironmentVariableW(L"BRIVON_TEST_FILE_WAIT_MS", nullptr); }

  TempFolder root_{L"brivon-hk"};
  std::wstring program_, updates_;
};

TEST_F(HousekeepingTest, ArchivesEveryLeftoverFolderAndRemovesIt) {
  MakeProgramFolder(L"Mi programa d'Orvane");  // spaces and an apostrophe reach 7-Zip whole
  Leftover(L"251206_093015");
  Leftover(L"251207_101010");
  std::wstring nested = updates_ + L"\\251207_101010\\sub";
  ASSERT_TRUE(::CreateDirectoryW(nested.c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(nested + L"\\solo.txt", "ro"));
  ::SetFileAttributesW((nested + L"\\solo.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  ::SetFileAttributesW(nested.c_str(), FILE_ATTRIBUTE_READONLY);
  // A hidden data-file copy, as the data file it was copied from: in the archive like any other.
  ASSERT_TRUE(WriteBytes(updates_ + L"\\251206_093015\\Oculta.BDORVA", "hidden data"));
  ASSERT_TRUE(::SetFileAttributesW((updates_ + L"\\251206_093015\\Oculta.BDORVA").c_str(), FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(WriteBytes(updates_ + L"\\antiguo.zip", "earlier archive"));
  ASSERT_TRUE(WriteBytes(updates_ + L"\\nota.txt", "x"));

  RunStartupHousekeeping(program_);

  EXPECT_FALSE(Exists(updates_ + L"\\251206_093015"));
  EXPECT_FALSE(Exists(updates_ + L"\\251207_101010"));
  EXPECT_EQ(Sorted(ListArchive(updates_ + L"\\251206_093015.zip")),
            (std::vector<std::wstring>{L"DATOS.MDB", L"Oculta.BDORVA", L"Orvane.exe"}));
  EXPECT_EQ(Sorted(ListArchive(updates_ + L"\\251207_101010.zip")),
            (std::vector<std::wstring>{L"DATOS.MDB", L"Orvane.exe", L"sub", L"sub\\solo.txt"}));
  EXPECT_EQ(ReadBytes(updates_ + L"\\antiguo.zip"), "earlier archive");  // files there are never touched
  EXPECT_EQ(ReadBytes(updates_ + L"\\nota.txt"), "x");
  EXPECT_EQ(Sorted(ListSubfolders(updates_)), std::vector<std::wstring>{});
  EXPECT_EQ(Log(), std::vector<std::string>{});
}

// A file 7-Zip cannot read (held without sharing) is a warning, 1: the folder stays, whole, and
// after three such starts it is no longer tried. Without 7za.exe nothing is deleted and nothing
// counted.
TEST_F(HousekeepingTest, FailedArchivingLeavesTheFolderAndCountsAStrike) {
  MakeProgramFolder(L"p");
  Leftover(L"A");
  const std::string a = NarrowLow8(updates_ + L"\\A");
  {
    HANDLE held = ::CreateFileW((updates_ + L"\\A\\DATOS.MDB").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    for (int start = 0; start < 4; ++start) RunStartupHousekeeping(program_);
    ::CloseHandle(held);
  }
  EXPECT_EQ(ReadBytes(updates_ + L"\\A\\Orvane.exe"), "MZ old version");
  EXPECT_EQ(ReadBytes(updates_ + L"\\A\\DATOS.MDB"), "data");
  EXPECT_FALSE(Exists(updates_ + L"\\A.zip"));
  EXPECT_FALSE(Exists(updates_ + L"\\A.nuevo.zip"));
  EXPECT_EQ(Log(), (std::vector<std::string>{"ARCHIVADO_ERROR;" + a + ";ec=1;intentos=1",
                                             "ARCHIVADO_ERROR;" + a + ";ec=1;intentos=2",
                                             "ARCHIVADO_ERROR;" + a + ";ec=1;intentos=3",
                                             "ARCHIVADO_OMITIDO;" + a + ";intentos=3"}));

  ASSERT_TRUE(::DeleteFileW((updates_ + L"\\A.intentos").c_str()));
  ASSERT_TRUE(::DeleteFileW((program_ + L"\\7za.exe").c_str()));
  RunStartupHousekeeping(program_);
  EXPECT_EQ(Log().back(), "ARCHIVADO_SIN_7ZA;" + NarrowLow8(program_) + "\\7za.exe;carpetas=1");
  EXPECT_EQ(ReadBytes(updates_ + L"\\A\\DATOS.MDB"), "data");
  EXPECT_FALSE(Exists(updates_ + L"\\A.intentos"));
}

// A folder too large for its own limit is ended there and given up after three such starts; one
// cut off because the start's budget ran out is only put off. A start whose budget is spent leaves
// the other folders for a later one.
TEST_F(HousekeepingTest, ATooSlowFolderIsGivenUpAfterThreeTimeoutsButABudgetsEndIsNoStrike) {
  MakeProgramFolder(L"p");
  Leftover(L"A");
  HugeFile(updates_ + L"\\A\\GRANDE.MDB");
  const ULONGLONG before = ::GetTickCount64();
  RunStartupHousekeeping(program_, 1000, 60000);  // the budget ends first: no strike
  for (int start = 1; start <= 3; ++start) RunStartupHousekeeping(program_, 60000, 1000);
  EXPECT_LT(::GetTickCount64() - before, 30000u);
  Leftover(L"B");
  RunStartupHousekeeping(program_, 0);  // nothing left of the budget
  RunStartupHousekeeping(program_);
  const std::string a = NarrowLow8(updates_ + L"\\A"), b = NarrowLow8(updates_ + L"\\B");
  const std::string given = "ARCHIVADO_OMITIDO;" + a + ";intentos=" + std::to_string(kHousekeepingStrikesBeforeSkip);
  std::vector<std::string> expected = {"ARCHIVADO_APLAZADO;" + a,
                                       "ARCHIVADO_AGOTADO;" + a + ";intentos=1",
                                       "ARCHIVADO_AGOTADO;" + a + ";intentos=2",
                                       "ARCHIVADO_AGOTADO;" + a + ";intentos=3",
                                       given,
                                       "ARCHIVADO_APLAZADO;" + b,
                                       given};
  std::vector<std::string> seen = Log();
  std::sort(expected.begin(), expected.end());
  std::sort(seen.begin(), seen.end());  // the folders come in listing order
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(ReadBytes(updates_ + L"\\A\\Orvane.exe"), "MZ old version");  // kept, no longer tried
  EXPECT_FALSE(Exists(updates_ + L"\\A.zip"));
  EXPECT_FALSE(Exists(updates_ + L"\\A.nuevo.zip"));
  EXPECT_FALSE(Exists(updates_ + L"\\B"));
  EXPECT_EQ(Sorted(ListArchive(updates_ + L"\\B.zip")), (std::vector<std::wstring>{L"DATOS.MDB", L"Orvane.exe"}));
}

// An old program still running from the folder: its file is skipped, the rest removed, and the
// next start, finding the archive holding what is left, does not make it again.
TEST_F(HousekeepingTest, AFileInUseKeepsItsFolderWithoutArchivingItAgain) {
  MakeProgramFolder(L"p");
  Leftover(L"A");
  const std::wstring running = updates_ + L"\\A\\Orvane.exe";
  HANDLE held = ::CreateFileW(running.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  RunStartupHousekeeping(program_);
  EXPECT_EQ(ReadBytes(running), "MZ old version");
  EXPECT_FALSE(Exists(updates_ + L"\\A\\DATOS.MDB"));
  EXPECT_EQ(Sorted(ListArchive(updates_ + L"\\A.zip")), (std::vector<std::wstring>{L"DATOS.MDB", L"Orvane.exe"}));
  const std::string archiveBefore = ReadBytes(updates_ + L"\\A.zip");
  RunStartupHousekeeping(program_);
  ::CloseHandle(held);
  EXPECT_EQ(ReadBytes(updates_ + L"\\A.zip"), archiveBefore);
  EXPECT_EQ(testing::EntryNames(updates_, false), std::vector<std::wstring>{L"A.zip"});
  RunStartupHousekeeping(program_);
  EXPECT_FALSE(Exists(updates_ + L"\\A"));
  EXPECT_EQ(ReadBytes(updates_ + L"\\A.zip"), archiveBefore);
  const std::string line = "CARPETA_NO_ELIMINADA;" + NarrowLow8(updates_ + L"\\A") + ";err=";
  const std::vector<std::string> log = Log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].rfind(line, 0), 0u) << log[0];
  EXPECT_EQ(log[1].rfind(line, 0), 0u) << log[1];
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

TEST_F(HousekeepingTest, NoUpdatesFolderDoesNothing) {
  MakeProgramFolder(L"p");
  RunStartupHousekeeping(program_);
  EXPECT_FALSE(Exists(updates_));
  EXPECT_FALSE(Exists(program_ + L"\\actualizador_registros"));
}

TEST_F(HousekeepingTest, LinksAreNeverFollowedWhenDeleting) {
  const std::wstring scene = testing::UnixLinkScene("unidad");
  if (scene.empty()) GTEST_SKIP() << "no directory links: the startup_unix_links test makes them";
  program_ = scene + L"\\programa";
  updates_ = program_ + L"\\actualizaciones";
  const std::wstring outside = scene + L"\\fuera";
  ASSERT_TRUE(WriteBytes(updates_ + L"\\251206_093015\\Orvane.exe", "MZ old version"));
  ::CopyFileW(testing::ArchiveToolPath().c_str(), (program_ + L"\\7za.exe").c_str(), FALSE);

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
