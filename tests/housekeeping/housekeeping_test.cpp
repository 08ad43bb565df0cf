#include "housekeeping/housekeeping.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/long_path.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "sevenzip/archive_listing.h"
#include "support/archive_reading.h"
#include "support/log_lines.h"
#include "support/test_env.h"
#include "support/unix_link.h"
#include "update/update_record.h"

namespace brivon {
namespace {

using testing::Exists;
using testing::IsDirectory;
using testing::ListArchive;
using testing::ReadBytes;
using testing::Sorted;
using testing::TempFolder;
using testing::WriteBytes;

// An archive already there may be the only copy of the folder's earlier state: a fresh one goes beside it.
TEST(HousekeepingNamesTest, NeverReplacesAnEarlierArchive) {
  EXPECT_EQ(ChooseArchivePlacement(false), ArchivePlacement::Take);
  EXPECT_EQ(ChooseArchivePlacement(true), ArchivePlacement::Beside);
  EXPECT_EQ(BesideArchiveName(L"C:\\p\\actualizaciones\\251206_093015.zip", 2),
            L"C:\\p\\actualizaciones\\251206_093015 (2).zip");
  EXPECT_EQ(FreshArchiveName(L"C:\\p\\actualizaciones\\A.zip"), L"C:\\p\\actualizaciones\\A.nuevo.zip");
}

// Only a folder's own failures count toward its strikes: not the tool's, the drive's or the
// start's budget.
TEST(HousekeepingNamesTest, WhatAFailureCountsAs) {
  using F = LeftoverFailure;
  using S = LeftoverStep;
  constexpr unsigned long kOut = kChildTimedOutExitCode;
  struct Case {
    const char* name;
    LeftoverStep step;
    bool started;
    unsigned long code, givenMs;
    bool driveBelowMargin;
    LeftoverFailure expected;
    bool strike;
  } cases[] = {
      {"its own limit ran out", S::Archive, true, kOut, 120000, false, F::TimedOut, true},
      {"the budget's end came first", S::Archive, true, kOut, 45000, false, F::CutByBudget, false},
      {"the listing's limit", S::List, true, kOut, 120000, false, F::TimedOut, true},
      {"the listing cut by the budget", S::List, true, kOut, 0, false, F::CutByBudget, false},
      {"a file 7-Zip could not read", S::Archive, true, 1, 45000, false, F::Failed, true},
      {"7-Zip's fatal error", S::Archive, true, 2, 120000, false, F::Failed, true},
      {"7-Zip cannot read its archive", S::List, true, 2, 120000, false, F::Failed, true},
      {"7-Zip's fatal error on a full drive", S::Archive, true, 2, 120000, true, F::DriveFull, false},
      {"no 7za.exe", S::Archive, false, ERROR_FILE_NOT_FOUND, 120000, false, F::ToolNotStarted, false},
      {"a damaged image", S::Archive, false, ERROR_BAD_EXE_FORMAT, 120000, false, F::ToolNotStarted, false},
      {"a 64-bit tool on 32-bit Windows", S::Archive, false, ERROR_EXE_MACHINE_TYPE_MISMATCH, 120000, false,
       F::ToolNotStarted, false},
      {"blocked by policy", S::List, false, ERROR_ACCESS_DISABLED_BY_POLICY, 120000, false, F::ToolNotStarted, false},
      {"an antivirus refusal (ERROR_VIRUS_INFECTED)", S::Archive, false, 225, 120000, false, F::ToolNotStarted, false},
      {"no right to run it", S::Archive, false, ERROR_ACCESS_DENIED, 120000, true, F::ToolNotStarted, false},
      {"the tool crashed", S::Archive, true, 0xC0000005, 120000, false, F::ToolFault, false},
      {"ended 0 yet no archive", S::Archive, true, 0, 120000, false, F::ToolFault, false},
      {"no listing in its output", S::List, true, 0, 120000, false, F::ToolFault, false},
      {"7-Zip's command-line error", S::Archive, true, 7, 120000, false, F::ToolFault, false},
      {"the archive cannot take its name", S::Place, true, ERROR_ACCESS_DENIED, 120000, false, F::Failed, true},
      {"the disk filled as it took its name", S::Place, true, ERROR_DISK_FULL, 120000, false, F::DriveFull, false},
      {"the drive fell below the margin", S::Place, true, ERROR_SHARING_VIOLATION, 120000, true, F::DriveFull,
       false},
  };
  for (const auto& c : cases) {
    const LeftoverFailure failure = ClassifyLeftoverFailure(c.step, c.started, c.code, c.givenMs, 120000,
                                                            c.driveBelowMargin);
    EXPECT_EQ(failure, c.expected) << c.name;
    EXPECT_EQ(IsStrike(failure), c.strike) << c.name;
  }
}

// "<folder>.intentos": what older programs wrote (the number alone) reads as struck with another
// tool; a struck folder is tried again once the tool changed.
TEST(HousekeepingNamesTest, WhenAStruckFolderIsTriedAgain) {
  const std::string tool(64, 'a'), other(64, 'b');
  struct Case {
    const char* name;
    std::string text;
    int count;
    std::string recordedTool;
    std::string presentTool;
    bool tried;
  } cases[] = {
      {"no file", "", 0, "", tool, true},
      {"two strikes", "2;7za=" + tool + "\r\n", 2, tool, tool, true},
      {"struck with this tool", "3;7za=" + tool + "\r\n", 3, tool, tool, false},
      {"struck with another tool", "3;7za=" + other + "\r\n", 3, other, tool, true},
      {"an older program's file", "3", 3, "", tool, true},
      {"an older program's file with its line end", "3\r\n", 3, "", tool, true},
      {"incomplete archive, struck with this tool", "4;7za=" + tool, 4, tool, tool, false},
      {"the present tool unknown", "3;7za=" + other, 3, other, "", false},
      {"damaged", "tres", 0, "", tool, true},
      {"a damaged identity", "3;7za=<html>", 3, "", tool, true},
      {"negative", "-5", 0, "", tool, true},
  };
  for (const auto& c : cases) {
    const StrikeRecord record = ParseStrikeRecord(c.text);
    EXPECT_EQ(record.count, c.count) << c.name;
    EXPECT_EQ(record.tool, c.recordedTool) << c.name;
    EXPECT_EQ(ShouldTryLeftover(record, c.presentTool), c.tried) << c.name;
    const StrikeRecord again = ParseStrikeRecord(StrikeRecordText(record));
    EXPECT_EQ(again.count, record.count) << c.name;
    EXPECT_EQ(again.tool, record.tool) << c.name;
  }
  EXPECT_EQ(StrikeRecordText({3, tool}), "3;7za=" + tool + "\r\n");  // the number first, for older programs
}

// A folder is "already archived" only when the archive holds each of its files with its size and
// its last change: a person who restored the folder from its archive and edited a database (which
// keeps its size) has a folder that differs.
TEST(HousekeepingNamesTest, WhatCountsAsTheArchivedFile) {
  constexpr int64_t kSecond = 10000000;
  constexpr int64_t t = 133500000000000000;  // a moment in 2024, local time
  const FileStamps folder = {{L"a.exe", {10, t}}, {L"sub\\b.MDB", {0, t + 7 * kSecond}}, {L".oculto", {5, t}}};
  struct Case {
    const char* name;
    FileStamps stored;
    size_t missing;
  } cases[] = {
      {"the same", folder, 0},
      {"an extra file in the archive",
       {{L"a.exe", {10, t}}, {L"sub\\b.MDB", {0, t + 7 * kSecond}}, {L".oculto", {5, t}}, {L"extra", {1, t}}},
       0},
      {"a file left out", {{L"a.exe", {10, t}}, {L"sub\\b.MDB", {0, t + 7 * kSecond}}}, 1},
      {"another size", {{L"a.exe", {9, t}}, {L"sub\\b.MDB", {0, t + 7 * kSecond}}, {L".oculto", {5, t}}}, 1},
      {"another name's case", {{L"A.exe", {10, t}}, {L"sub\\b.MDB", {0, t + 7 * kSecond}}, {L".oculto", {5, t}}}, 1},
      {"the NTFS time cut to the second",
       {{L"a.exe", {10, t - kSecond + 1}}, {L"sub\\b.MDB", {0, t + 7 * kSecond}}, {L".oculto", {5, t}}},
       0},
      {"the DOS time rounded up to an even second",
       {{L"a.exe", {10, t + 2 * kSecond}}, {L"sub\\b.MDB", {0, t + 7 * kSecond}}, {L".oculto", {5, t}}},
       0},
      {"edited after the restore, same size",
       {{L"a.exe", {10, t - 2 * kSecond - 1}}, {L"sub\\b.MDB", {0, t + 7 * kSecond}}, {L".oculto", {5, t}}},
       1},
      {"an hour apart (edited, or the clock's zone changed)",
       {{L"a.exe", {10, t - 3600 * kSecond}}, {L"sub\\b.MDB", {0, t + 7 * kSecond}}, {L".oculto", {5, t}}},
       1},
      {"no time in the listing", {{L"a.exe", {10, 0}}, {L"sub\\b.MDB", {0, t + 7 * kSecond}}, {L".oculto", {5, t}}},
       1},
      {"nothing", {}, 3},
  };
  for (const auto& c : cases) EXPECT_EQ(CountFilesNotArchived(folder, c.stored), c.missing) << c.name;
}

// A folder listing that stops before its end (a share reconnecting) proves nothing of the folder.
TEST(HousekeepingNamesTest, AFolderListingIsWholeOnlyAtItsEnd) {
  struct Case {
    unsigned long error;
    bool first, whole;
  } cases[] = {
      {ERROR_NO_MORE_FILES, false, true},
      {ERROR_FILE_NOT_FOUND, true, true},  // a folder without even "." and ".."
      {ERROR_FILE_NOT_FOUND, false, false},
      {ERROR_PATH_NOT_FOUND, true, false},  // gone meanwhile
      {ERROR_NETNAME_DELETED, false, false},
      {ERROR_NETNAME_DELETED, true, false},
      {ERROR_UNEXP_NET_ERR, false, false},
      {ERROR_ACCESS_DENIED, true, false},
      {ERROR_SUCCESS, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ListingEndedWhole(c.error, c.first), c.whole) << c.error << (c.first ? " first" : " next");
  }
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
    ASSERT_TRUE(testing::InstallArchiveTool(program_));
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
    return testing::LogTexts(program_, L"descargas.csv");
  }
  // Files here are held for good, or not at all: the outcome is the same after a shorter wait.
  testing::ScopedVariable shortWait_{L"BRIVON_TEST_FILE_WAIT_MS", L"300"};

  TempFolder root_{L"brivon-hk"};
  std::wstring program_, updates_;
};

// Spaces and an apostrophe reach 7-Zip whole; a program folder of about 240 characters puts the
// archives and the files under them past 260.
TEST_F(HousekeepingTest, ArchivesEveryLeftoverFolderAndRemovesIt) {
  for (const std::wstring& name :
       {std::wstring(L"Mi programa d'Orvane"), std::wstring(240 - root_.path().size() - 1, L'p')}) {
    SCOPED_TRACE(NarrowLow8(name));
    MakeProgramFolder(name);
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
  // The folder's 20 GB must leave the margin free, or it is refused before 7-Zip starts.
  ULARGE_INTEGER free = {};
  ASSERT_TRUE(::GetDiskFreeSpaceExW((program_ + L"\\").c_str(), &free, nullptr, nullptr));
  if (free.QuadPart < 21ull * 1000 * 1000 * 1000) {
    GTEST_SKIP() << "needs 21 GB free on the test drive for the sparse folder's space check, has " << free.QuadPart;
  }
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

// A folder's deletion ends when its time does, however many of its files others hold (the
// housekeeping gives it what is left of the start's budget); what is left stays. A file its check
// refuses stays, and so does the folder holding it.
TEST_F(HousekeepingTest, DeletingAFolderEndsWithItsTime) {
  testing::ScopedVariable fullWait(L"BRIVON_TEST_FILE_WAIT_MS", L"");  // each held file the full wait
  struct Row {
    const char* name;
    unsigned long limitMs;
    bool holdTwo;             // a.txt and b.txt held without delete sharing
    const wchar_t* refused;   // the one file the check refuses; null: no check
    bool whole, outOfTime;
    size_t kept;
  } rows[] = {
      {"nothing held", 60000, false, nullptr, true, false, 0},
      {"two files held past the time", 400, true, nullptr, false, true, 0},
      {"no time left", 0, false, nullptr, false, true, 0},
      {"a file the check refuses", 60000, false, L"sub\\c.txt", false, false, 1},
      {"every file checked", 60000, false, L"otro.txt", true, false, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempFolder root(L"brivon-hk-tree");
    const std::wstring folder = root / L"251206_093015";
    ASSERT_TRUE(std::filesystem::create_directories(std::filesystem::path(folder + L"\\sub")));
    for (const wchar_t* name : {L"a.txt", L"b.txt", L"sub\\c.txt"}) {
      ASSERT_TRUE(WriteBytes(folder + L"\\" + name, "x"));
    }
    UniqueFile a, b;
    if (row.holdTwo) {
      a.reset(::CreateFileW((folder + L"\\a.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr));
      b.reset(::CreateFileW((folder + L"\\b.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr));
      ASSERT_TRUE(a && b);
    }
    MayDeleteFile check;
    if (row.refused) {
      check = [&](const std::wstring& relative, uint64_t, const FILETIME&) { return relative != row.refused; };
    }

    const TreeDeletion deletion = DeleteFolderTreeWithin(folder, row.limitMs, check);

    EXPECT_EQ(deletion.whole, row.whole);
    EXPECT_EQ(deletion.outOfTime, row.outOfTime);
    EXPECT_EQ(deletion.kept, row.kept);
    EXPECT_EQ(Exists(folder), !row.whole);
    if (row.holdTwo) {
      EXPECT_EQ(ReadBytes(folder + L"\\a.txt"), "x");
      EXPECT_EQ(ReadBytes(folder + L"\\b.txt"), "x");
    }
    if (row.kept) {
      EXPECT_EQ(ReadBytes(folder + L"\\" + row.refused), "x");
      EXPECT_FALSE(Exists(folder + L"\\a.txt"));
    }
  }
}

// An archive already there is kept whatever the folder holds; the folder is deleted on its word
// only when it holds every file as the folder has it. "Extract all" proposes exactly the folder's
// place: a person who restores it there and edits a database (its size unchanged) keeps the edits.
TEST_F(HousekeepingTest, AnEarlierArchiveIsKeptAndTrustedOnlyForTheFolderAsItStands) {
  struct Row {
    const char* name;
    bool earlierIsNoZip;    // a larger file that is no archive; otherwise the folder's own archive
    const char* editAfter;  // written into DATOS.MDB after the archive was made; null: untouched
    bool besideHoldsIt;     // then archived as "A (2).zip" by a start whose deletion a held file stopped
    bool archivedAgain;
  } rows[] = {
      {"a larger file that is no archive", true, nullptr, false, true},
      {"restored and a database edited, same size", false, "DATA", false, true},
      {"restored and left as it was", false, nullptr, false, false},
      {"edited, and archived beside by an earlier start", false, "DATA", true, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempFolder root(L"brivon-hk-earlier");
    program_ = root / L"p";
    ASSERT_TRUE(::CreateDirectoryW(program_.c_str(), nullptr));
    ASSERT_TRUE(testing::InstallArchiveTool(program_));
    updates_ = program_ + L"\\actualizaciones";
    Leftover(L"A");
    const std::wstring folder = updates_ + L"\\A";
    // As "Extract all" leaves them: the times the archive holds, long before any edit.
    for (const wchar_t* name : {L"Orvane.exe", L"DATOS.MDB"}) {
      UniqueFile file(::CreateFileW((folder + L"\\" + name).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                    0, nullptr));
      SYSTEMTIME january = {2024, 1, 0, 15, 10, 30, 0, 0};
      FILETIME restored = {};
      ASSERT_TRUE(::SystemTimeToFileTime(&january, &restored));
      ASSERT_TRUE(::SetFileTime(file.get(), nullptr, nullptr, &restored));
    }
    std::string earlier;
    if (row.earlierIsNoZip) {
      earlier.resize(200000);
      for (size_t i = 0; i < earlier.size(); ++i) earlier[i] = static_cast<char>((i * 2654435761u) >> 13);
      ASSERT_TRUE(WriteBytes(updates_ + L"\\A.zip", earlier));
    } else {
      unsigned long code = 0;
      ASSERT_TRUE(ZipFolderContents(program_, folder, updates_ + L"\\A.zip", &code));
      earlier = ReadBytes(updates_ + L"\\A.zip");
    }
    if (row.editAfter) {
      ASSERT_TRUE(WriteBytes(folder + L"\\DATOS.MDB", row.editAfter));
    }
    std::string beside;
    if (row.besideHoldsIt) {
      unsigned long code = 0;
      ASSERT_TRUE(ZipFolderContents(program_, folder, updates_ + L"\\A (2).zip", &code));
      beside = ReadBytes(updates_ + L"\\A (2).zip");
    }

    RunStartupHousekeeping(program_);

    EXPECT_EQ(ReadBytes(updates_ + L"\\A.zip"), earlier);
    EXPECT_FALSE(Exists(folder));
    EXPECT_EQ(Log(), std::vector<std::string>{});
    EXPECT_EQ(Exists(updates_ + L"\\A (2).zip"), row.archivedAgain || row.besideHoldsIt);
    EXPECT_FALSE(Exists(updates_ + L"\\A (3).zip"));
    if (row.besideHoldsIt) {
      EXPECT_EQ(ReadBytes(updates_ + L"\\A (2).zip"), beside);
    }
    if (row.archivedAgain) {
      const std::wstring out = root / L"fuera";
      ASSERT_TRUE(testing::ExtractWithSevenZip(updates_ + L"\\A (2).zip", out));
      EXPECT_EQ(ReadBytes(out + L"\\DATOS.MDB"), row.editAfter ? row.editAfter : "data");
    }
  }
}

// The tool's faults (cut short, the system will not start it) and the drive's (too little room for
// the folder) are no strikes, and a folder struck with another tool (or by an
// older program, which recorded none) is tried again. While an earlier update's repair is pending
// its folders are left alone.
TEST_F(HousekeepingTest, OnlyTheFolderOwnFaultsStrikeAndAStruckFolderIsTriedWithANewTool) {
  const std::string tool = ReadBytes(testing::ArchiveToolPath());
  const std::string toolHash = NarrowLow8(BRIVON_TEST_7ZA_SHA256);
  const std::string otherHash(64, '0');
  enum class Tool { Real, CutShort };
  enum Huge { kNormal, kPastTheDrive };
  struct Row {
    const char* name;
    Tool tool;
    int folders;                // A, and B
    std::string strikesBefore;  // A.intentos; "": none
    bool held;                  // a file of A held without sharing: 7-Zip's own error on it
    Huge size;
    std::vector<std::string> log;  // "<A>" for A's path, "<tool>" for 7za.exe's, "<updates>", "<record>"
    bool stays;
    std::string strikesAfter;  // "": none
    bool recordPending = false;  // an update record, as a cut-off update whose repair failed leaves it
  } rows[] = {
      {"a tool cut short", Tool::CutShort, 2, "3", false, kNormal,
       {"ARCHIVADO_7ZA_NO_ARRANCA;<tool>;err=193;carpetas=2"}, true, "3"},
      {"struck by an older program", Tool::Real, 1, "3", false, kNormal, {}, false, ""},
      {"struck with another tool", Tool::Real, 1, "3;7za=" + otherHash, false, kNormal, {}, false, ""},
      {"struck with this tool", Tool::Real, 1, "3;7za=" + toolHash + "\r\n", false, kNormal,
       {"ARCHIVADO_OMITIDO;<A>;intentos=3"}, true, "3;7za=" + toolHash + "\r\n"},
      {"struck with another tool, and 7-Zip fails on it again", Tool::Real, 1, "3", true, kNormal,
       {"ARCHIVADO_ERROR;<A>;ec=1;intentos=4"}, true, "4;7za=" + toolHash + "\r\n"},
      {"larger than the drive's free space", Tool::Real, 1, "", false, kPastTheDrive,
       {"ARCHIVADO_SIN_ESPACIO;<A>;necesarios=8796093022226;libres="}, true, ""},
      {"an update's repair pending", Tool::Real, 2, "", false, kNormal,
       {"ARCHIVADO_SUSPENDIDO;<updates>;registro=<record>"}, true, "", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempFolder root(L"brivon-hk-strikes");
    program_ = root / L"p";
    ASSERT_TRUE(::CreateDirectoryW(program_.c_str(), nullptr));
    const std::string toolBytes = row.tool == Tool::Real ? tool : tool.substr(0, tool.size() * 6 / 10);
    ASSERT_TRUE(WriteBytes(program_ + L"\\7za.exe", toolBytes));
    updates_ = program_ + L"\\actualizaciones";
    Leftover(L"A");
    if (row.folders > 1) Leftover(L"B");
    const std::wstring a = updates_ + L"\\A";
    if (!row.strikesBefore.empty()) {
      ASSERT_TRUE(WriteBytes(a + L".intentos", row.strikesBefore));
    }
    if (row.size == kPastTheDrive) {  // 8 TiB and 14 bytes, sparse: past any test machine's drive
      UniqueFile file(::CreateFileW((a + L"\\GRANDE.MDB").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
      LARGE_INTEGER size;
      size.QuadPart = 8LL << 40;
      ASSERT_TRUE(::SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.get()));
    }
    if (row.recordPending) {
      ASSERT_TRUE(::CreateDirectoryW((program_ + L"\\actualizador_registros").c_str(), nullptr));
      ASSERT_TRUE(WriteBytes(UpdateRecordPath(program_), "registro"));
    }
    UniqueFile held;
    if (row.held) {
      held.reset(::CreateFileW((a + L"\\DATOS.MDB").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(held);
    }

    RunStartupHousekeeping(program_);
    held.reset();

    std::vector<std::string> log = Log();
    EXPECT_EQ(log.size(), row.log.size());
    for (size_t i = 0; i < std::min(log.size(), row.log.size()); ++i) {
      std::string expected = row.log[i];
      for (const auto& [mark, path] : {std::pair<std::string, std::wstring>{"<A>", a},
                                      {"<tool>", program_ + L"\\7za.exe"},
                                      {"<updates>", updates_},
                                      {"<record>", UpdateRecordPath(program_)}}) {
        const size_t at = expected.find(mark);
        if (at != std::string::npos) expected.replace(at, mark.size(), NarrowLow8(path));
      }
      EXPECT_EQ(log[i].substr(0, expected.size()), expected);
    }
    EXPECT_EQ(Exists(a), row.stays);
    if (row.stays) {
      EXPECT_EQ(ReadBytes(a + L"\\DATOS.MDB"), "data");
    } else {
      EXPECT_EQ(Sorted(ListArchive(updates_ + L"\\A.zip")), (std::vector<std::wstring>{L"DATOS.MDB", L"Orvane.exe"}));
    }
    EXPECT_EQ(Exists(a + L".intentos") ? ReadBytes(a + L".intentos") : "", row.strikesAfter);
    if (row.folders > 1) {
      EXPECT_EQ(Exists(updates_ + L"\\B"), row.stays);
    }
    EXPECT_TRUE(ReadBytes(program_ + L"\\7za.exe") == toolBytes);  // the housekeeping never touches the tool
  }
}

TEST_F(HousekeepingTest, NoUpdatesFolderDoesNothing) {
  MakeProgramFolder(L"p");
  RunStartupHousekeeping(program_);
  EXPECT_FALSE(Exists(updates_));
  EXPECT_FALSE(Exists(program_ + L"\\actualizador_registros"));
}

TEST_F(HousekeepingTest, LinksAreNeverFollowedWhenDeleting) {
  const std::wstring scene = testing::UnixLinkScene("unidad");
  if (scene.empty()) GTEST_SKIP() << testing::kNeedsUnixLinks;
  program_ = scene + L"\\programa";
  updates_ = program_ + L"\\actualizaciones";
  const std::wstring outside = scene + L"\\fuera";
  ASSERT_TRUE(WriteBytes(updates_ + L"\\251206_093015\\Orvane.exe", "MZ old version"));
  testing::InstallArchiveTool(program_);

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
