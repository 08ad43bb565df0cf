#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text.h"
#include "support/test_env.h"
#include "update/file_moves.h"
#include "update/helper_roles.h"

namespace brivon {
namespace {

using testing::Exists;
using testing::ReadBytes;
using testing::ScopedVariable;
using testing::TempFolder;
using testing::WriteBytes;

// Only "not found" proves a program missing, and only then is anything put back under its name:
// a share that hiccups answers with other errors while the program is there.
TEST(InstallFilesTest, OnlyNotFoundProvesAFileMissing) {
  struct Case {
    const char* what;
    DWORD attributes;
    DWORD error;
    bool missing;
  } cases[] = {
      {"a file", FILE_ATTRIBUTE_ARCHIVE, ERROR_SUCCESS, false},
      {"a folder", FILE_ATTRIBUTE_DIRECTORY, ERROR_SUCCESS, false},
      {"file not found", INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND, true},
      {"path not found", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND, true},
      {"the share reconnecting", INVALID_FILE_ATTRIBUTES, ERROR_UNEXP_NET_ERR, false},
      {"the network name gone for a moment", INVALID_FILE_ATTRIBUTES, ERROR_NETNAME_DELETED, false},
      {"the network path unreachable", INVALID_FILE_ATTRIBUTES, ERROR_BAD_NETPATH, false},
      {"access refused", INVALID_FILE_ATTRIBUTES, ERROR_ACCESS_DENIED, false},
      {"in use", INVALID_FILE_ATTRIBUTES, ERROR_SHARING_VIOLATION, false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsMissingAnswer(c.attributes, c.error), c.missing) << c.what;
  TempFolder folder;
  ASSERT_TRUE(WriteBytes(folder / L"Programa.exe", "x"));
  EXPECT_FALSE(IsMissing(folder / L"Programa.exe"));
  EXPECT_TRUE(IsMissing(folder / L"falta.exe"));
  EXPECT_TRUE(IsMissing(folder / L"falta\\Programa.exe"));
}

// A put-back never replaces a file under the name. A file of the user's goes under the first free
// name beside it; a program goes onto its own name or nowhere (a free name would be recorded
// nowhere), and stays where it was for a later start. A source held past the wait (a scanner:
// reading shared, deletion not) is copied beside the name, flushed and renamed in.
TEST(InstallFilesTest, APutBackNeverReplacesAFile) {
  struct Case {
    const char* what;
    std::vector<const wchar_t*> taken;  // files of the user's beside the program
    bool keepSource;
    bool heldSource;
    const wchar_t* placed;  // null: not put back
    bool sourceLeft;
    bool program = false;  // PutBackProgram rather than PutBackFile
  } cases[] = {
      {"the name free", {}, false, false, L"Programa.exe", false},
      {"the name taken", {L"Programa.exe"}, false, false, L"Programa_1.exe", false},
      {"the name and its first free name taken", {L"Programa.exe", L"Programa_1.exe"}, false, false,
       L"Programa_2.exe", false},
      {"a kept copy, the name taken", {L"Programa.exe"}, true, false, L"Programa_1.exe", true},
      {"a held source, the name free", {}, false, true, L"Programa.exe", true},
      {"a held source, the name taken", {L"Programa.exe"}, false, true, L"Programa_1.exe", true},
      {"a program, the name free", {}, false, false, L"Programa.exe", false, true},
      {"a program kept in the updates folder, the name free", {}, true, false, L"Programa.exe", true, true},
      {"a program, the name taken", {L"Programa.exe"}, false, false, nullptr, true, true},
      {"a program kept in the updates folder, the name taken", {L"Programa.exe"}, true, false, nullptr, true, true},
  };
  const std::string program = "programa anterior", users = "archivo del usuario";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder folder;
    const std::wstring from = folder / L"Programa2.exe";
    ASSERT_TRUE(WriteBytes(from, program));
    for (const wchar_t* name : c.taken) ASSERT_TRUE(WriteBytes(folder / name, users));
    ScopedVariable wait(L"BRIVON_TEST_FILE_WAIT_MS", L"300");
    UniqueFile held;
    if (c.heldSource) {
      held.reset(::CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
      ASSERT_TRUE(held);
    }
    std::wstring placed;
    if (c.program) {
      const PutBackResult result = PutBackProgram(from, folder / L"Programa.exe", c.keepSource);
      const DWORD error = ::GetLastError();
      EXPECT_EQ(result, c.placed ? PutBackResult::Done : PutBackResult::NameNotFree);
      if (!c.placed) {
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_ALREADY_EXISTS));
      }
      if (result == PutBackResult::Done) placed = folder / L"Programa.exe";
    } else {
      EXPECT_TRUE(PutBackFile(from, folder / L"Programa.exe", c.keepSource, &placed));
    }
    held.reset();
    if (c.placed) {
      EXPECT_EQ(placed, folder / c.placed);
      EXPECT_EQ(ReadBytes(placed), program);
    }
    for (const wchar_t* name : c.taken) EXPECT_EQ(ReadBytes(folder / name), users) << NarrowLow8(name);
    EXPECT_EQ(Exists(from), c.sourceLeft);
    EXPECT_EQ(testing::EntryNames(folder.path(), false).size(),
              c.taken.size() + (c.placed ? 1 : 0) + (c.sourceLeft ? 1 : 0))
        << "a copy left beside";
  }
}

// A namesake goes by its long name: a short 8.3 name reaches another file.
TEST(InstallFilesTest, ANamesakeIsFoundByItsLongNameOnly) {
  TempFolder folder;
  ASSERT_TRUE(WriteBytes(folder / L"FacturaOrva.exe", "x"));
  ASSERT_TRUE(::CreateDirectoryW((folder / L"carpeta.exe").c_str(), nullptr));
  wchar_t shortPath[MAX_PATH] = {};
  const DWORD length = ::GetShortPathNameW((folder / L"FacturaOrva.exe").c_str(), shortPath, MAX_PATH);
  ASSERT_GT(length, 0u);
  ASSERT_NE(std::wstring(shortPath), folder / L"FacturaOrva.exe");  // the system gave it an 8.3 name
  struct Case {
    std::wstring path;
    bool existing;  // IsExistingFile
    bool namesake;  // IsExistingFileByLongName
  } cases[] = {
      {folder / L"FacturaOrva.exe", true, true},
      {folder / L"FACTURAORVA.EXE", true, true},
      {shortPath, true, false},
      {folder / L"carpeta.exe", false, false},
      {folder / L"falta.exe", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsExistingFile(c.path), c.existing) << c.path;
    EXPECT_EQ(IsExistingFileByLongName(c.path), c.namesake) << c.path;
  }
}

// A read-only file of the package (as an archive may store one) arrives writable, so that the next
// update can replace it in turn. A file that took the name meanwhile is never replaced: the move
// fails, and both stay as they were.
TEST(InstallFilesTest, MoveNeverReplacesAFileAndLeavesTheNewOneWritable) {
  struct Case {
    const char* what;
    const char* atDestination;  // null: the name is free
    bool moved;
  } cases[] = {
      {"the name free", nullptr, true},
      {"a read-only file under the name", "old version", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder folder;
    std::wstring source = folder / L"nuevo.exe", destination = folder / L"Programa.exe";
    ASSERT_TRUE(WriteBytes(source, "new"));
    if (c.atDestination) {
      ASSERT_TRUE(WriteBytes(destination, c.atDestination));
      ASSERT_TRUE(::SetFileAttributesW(destination.c_str(), FILE_ATTRIBUTE_READONLY));
    }
    ASSERT_TRUE(::SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_READONLY));
    const bool moved = MoveFileWithRetry(source, destination, FlushRule::Always);
    const DWORD error = ::GetLastError();
    EXPECT_EQ(moved, c.moved);
    EXPECT_EQ(Exists(source), !c.moved);
    EXPECT_EQ(ReadBytes(destination), c.moved ? "new" : c.atDestination);
    if (c.moved) {
      EXPECT_EQ(::GetFileAttributesW(destination.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    } else {
      EXPECT_EQ(error, static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    }
    EXPECT_FALSE(Exists(destination + L".escribiendo"));
    ::SetFileAttributesW(destination.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

TEST(InstallFilesTest, MoveOfAMissingSourceFailsAndCreatesNothing) {
  TempFolder folder;
  EXPECT_FALSE(MoveFileWithRetry(folder / L"falta.exe", folder / L"destino.exe", FlushRule::Always));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(Exists(folder / L"destino.exe"));
}

// Another process holds the source for a while: without sharing, as an on-access scanner does
// (read and write sharing, no delete sharing, so a rename is refused), or as a backup or sync
// client does (read and delete sharing, no write sharing, so the flush before the rename is
// refused). The move waits it out; the limit of that wait is in the file-waits table. A source
// that was never flushed never takes the name.
TEST(InstallFilesTest, MoveOfAFileHeldByAnotherProcess) {
  struct Case {
    const char* name;
    DWORD share;
    DWORD holdMs;
    bool moved;
    bool sourceLeft;
    const char* destination;  // bytes at the destination afterwards
    DWORD minimumMs;          // the retries' pauses before the outcome
    const wchar_t* waitMs = L"";  // the test build's wait for a held file, when shortened
  } cases[] = {
      {"let go after 500 ms", 0, 500, true, false, "payload", 400},
      {"a scanner for 2.5 s", FILE_SHARE_READ | FILE_SHARE_WRITE, 2500, true, false, "payload", 2000},
      // Held past the wait: copied beside the destination and renamed in; the source stays, held.
      {"a scanner past the wait", FILE_SHARE_READ | FILE_SHARE_WRITE, 5000, true, true, "payload", 300, L"300"},
      {"a backup client for 1 s", FILE_SHARE_READ | FILE_SHARE_DELETE, 1000, true, false, "payload", 800},
      {"a backup client past the wait", FILE_SHARE_READ | FILE_SHARE_DELETE, 5000, false, true, "", 300, L"300"},
  };
  for (const auto& c : cases) {
    TempFolder folder;
    std::wstring source = folder / L"nuevo.exe", destination = folder / L"Programa.exe";
    ASSERT_TRUE(WriteBytes(source, "payload"));
    ScopedVariable file(L"BRIVON_HOLD_FILE", source);
    ScopedVariable share(L"BRIVON_HOLD_SHARE", std::to_wstring(c.share));
    ScopedVariable ms(L"BRIVON_HOLD_MS", std::to_wstring(c.holdMs));
    ScopedVariable wait(L"BRIVON_TEST_FILE_WAIT_MS", c.waitMs);
    UniqueHandle holder = testing::StartRole(L"HoldFile");
    ASSERT_TRUE(holder) << c.name;
    for (int i = 0; i < 300 && !Exists(source + L".held"); ++i) ::Sleep(20);
    ASSERT_TRUE(Exists(source + L".held")) << c.name;

    ULONGLONG start = ::GetTickCount64();
    bool moved = MoveFileWithRetry(source, destination, FlushRule::Always);
    ULONGLONG elapsed = ::GetTickCount64() - start;
    ::TerminateProcess(holder.get(), 0);
    ::WaitForSingleObject(holder.get(), 10000);

    EXPECT_EQ(moved, c.moved) << c.name;
    EXPECT_EQ(Exists(source), c.sourceLeft) << c.name;
    EXPECT_EQ(ReadBytes(destination), c.destination) << c.name;
    EXPECT_GE(elapsed, c.minimumMs) << c.name;
    EXPECT_FALSE(Exists(destination + L".escribiendo")) << c.name;
  }
}

}  // namespace
}  // namespace brivon
