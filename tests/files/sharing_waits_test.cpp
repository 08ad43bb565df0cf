// A file held for a moment by someone else is waited for, for a bounded time, with growing
// pauses; an error waiting does not cure fails at once. The clock is the test's own.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/long_path.h"
#include "common/unique_handle.h"
#include "files/durable_file.h"
#include "files/sharing_waits.h"
#include "support/test_env.h"

namespace brivon {
namespace {

struct FakeClock {
  uint64_t now = 0;
  WaitClock clock() {
    return WaitClock{[this] { return now; }, [this](unsigned long ms) { now += ms; }};
  }
};

TEST(FileWaitsTest, HeldFilesAreWaitedForWithinTheLimit) {
  struct Row {
    const char* what;
    DWORD error;           // what each failed attempt gives
    unsigned long freeAt;  // the operation succeeds from this fake time on; ~0ul: never
    bool succeeds;
    int attempts;
    unsigned long waitedAtMost;
  } rows[] = {
      {"free at once", ERROR_SHARING_VIOLATION, 0, true, 1, 0},
      {"a scanner for 0.3 s", ERROR_SHARING_VIOLATION, 300, true, 4, 350},
      {"a scanner for 2.5 s", ERROR_SHARING_VIOLATION, 2500, true, 7, 2550},
      {"held past the limit", ERROR_SHARING_VIOLATION, ~0ul, false, 15, kFileWaitLimitMs},
      {"access refused for a moment", ERROR_ACCESS_DENIED, 900, true, 6, 1550},
      {"a lock on a range", ERROR_LOCK_VIOLATION, 100, true, 3, 150},
      {"missing: no wait", ERROR_FILE_NOT_FOUND, ~0ul, false, 1, 0},
      {"disk full: no wait", ERROR_DISK_FULL, ~0ul, false, 1, 0},
      {"name taken: no wait", ERROR_ALREADY_EXISTS, ~0ul, false, 1, 0},
  };
  for (const Row& row : rows) {
    FakeClock fake;
    int attempts = 0;
    const bool ok = WithFileWaits(
        [&] {
          ++attempts;
          if (fake.now >= row.freeAt) return true;
          ::SetLastError(row.error);
          return false;
        },
        fake.clock());
    EXPECT_EQ(ok, row.succeeds) << row.what;
    EXPECT_EQ(attempts, row.attempts) << row.what;
    EXPECT_LE(fake.now, row.waitedAtMost) << row.what;
    if (!ok) {  // the caller logs the real cause
      EXPECT_EQ(::GetLastError(), row.error) << row.what;
    }
  }
}

// Only a hold that passes is waited for. A running program's image refuses a write open for as
// long as it runs, yet opens for deletion (a rename): it is told apart from a scanner or a backup
// agent, which refuse deletion too, and the operation fails at once with its own error.
TEST(FileWaitsTest, ARunningProgramIsNeverWaitedFor) {
  struct Row {
    const char* what;
    DWORD writeOpen;   // what an open for writing gives (0: it opened)
    DWORD deleteOpen;  // what an open for deletion gives
    FileHold hold;
  } rows[] = {
      {"nobody holds it", 0, 0, FileHold::Free},
      {"a scanner sharing reading and writing", 0, ERROR_SHARING_VIOLATION, FileHold::Passing},
      {"a backup agent sharing reading only", ERROR_SHARING_VIOLATION, ERROR_SHARING_VIOLATION, FileHold::Passing},
      {"a running program", ERROR_SHARING_VIOLATION, 0, FileHold::RunningImage},
      {"a mapped view of it", ERROR_USER_MAPPED_FILE, 0, FileHold::RunningImage},
      {"a deletion pending", ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, FileHold::Passing},
      {"missing", ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND, FileHold::Free},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ClassifyFileHold(row.writeOpen, row.deleteOpen), row.hold) << row.what;
    // An operation refused by it: a hold that passes is waited out, any other fails at once.
    FakeClock fake;
    int attempts = 0;
    const bool ok = WithFileWaitsUnless(
        [&] {
          ++attempts;
          if (fake.now >= 300) return true;
          ::SetLastError(ERROR_SHARING_VIOLATION);
          return false;
        },
        [&](DWORD) { return ClassifyFileHold(row.writeOpen, row.deleteOpen) == FileHold::RunningImage; },
        fake.clock());
    const bool waited = row.hold != FileHold::RunningImage;
    EXPECT_EQ(ok, waited) << row.what;
    EXPECT_EQ(attempts, waited ? 4 : 1) << row.what;
    if (!ok) {
      EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << row.what;
    }
  }
}

// What refuses a flush's write open while it reads (a backup or sync client sharing reading and
// deletion) looks, from outside, just like a running program: a file the run wrote waits for it and
// fails once it never lets go; only the installed program's own flush may take it for a running
// program and go on unflushed.
TEST(FileWaitsTest, OnlyTheProgramMayGoUnflushed) {
  struct Row {
    const char* what;
    DWORD holderSharing;  // ~0ul: nobody holds the file
    FlushRule rule;
    bool flushed;  // true: flushed or, for the program, taken for a running one
  } rows[] = {
      {"nobody holds it", ~0ul, FlushRule::Always, true},
      {"a scanner sharing reading and writing", FILE_SHARE_READ | FILE_SHARE_WRITE, FlushRule::Always, true},
      {"a backup client, a file the run wrote", FILE_SHARE_READ | FILE_SHARE_DELETE, FlushRule::Always, false},
      {"a backup client, the installed program", FILE_SHARE_READ | FILE_SHARE_DELETE, FlushRule::UnlessRunningProgram,
       true},
      {"a hold sharing nothing, the installed program", 0, FlushRule::UnlessRunningProgram, false},
  };
  const testing::TempFolder folder;
  const std::wstring path = folder / L"brivon_flush.exe";
  testing::ScopedVariable shortWait(L"BRIVON_TEST_FILE_WAIT_MS", L"300");  // held for good
  for (const Row& row : rows) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file);
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.get(), "MZ", 2, &written, nullptr));
    file.reset();
    UniqueFile holder;
    if (row.holderSharing != ~0ul) {
      holder.reset(::CreateFileW(path.c_str(), GENERIC_READ, row.holderSharing, nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(holder) << row.what;
    }
    const bool flushed = FlushFileToDisk(path, row.rule);
    const DWORD error = ::GetLastError();
    EXPECT_EQ(flushed, row.flushed) << row.what;
    if (!row.flushed) {
      EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << row.what;
    }
  }
}

TEST(FileWaitsTest, PausesGrowThenHoldAtOneSecondAndEndAtTheLimit) {
  struct Row {
    int attempt;
    unsigned long waited;
    unsigned long pause;
  } rows[] = {
      {1, 0, 50},       {2, 50, 100},     {3, 150, 200},   {5, 750, 800},
      {6, 1550, 1000},  {12, 7550, 1000}, {13, 9550, 450}, {14, kFileWaitLimitMs, 0},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(NextFilePause(ERROR_SHARING_VIOLATION, row.attempt, row.waited), row.pause) << row.attempt;
  }
}

}  // namespace
}  // namespace brivon

namespace brivon {
namespace {

// Deep folders: only a path from 248 characters on goes to the file system in its extended form
// (which form, the long-path table of the housekeeping says).
TEST(LongPathTest, OnlyLongPathsTakeTheExtendedForm) {
  const std::wstring deep(250, L'c');
  struct Row {
    std::wstring path;
    std::wstring expected;
  } rows[] = {
      {L"C:\\App\\Programa.exe", L"C:\\App\\Programa.exe"},
      {L"C:\\" + deep, L"\\\\?\\C:\\" + deep},
      {L"\\\\servidor\\datos\\" + deep, L"\\\\?\\UNC\\servidor\\datos\\" + deep},
  };
  for (const Row& row : rows) EXPECT_EQ(ForFileSystem(row.path), row.expected) << row.path.size();
}

}  // namespace
}  // namespace brivon
