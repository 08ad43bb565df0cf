#include "update/data_copies_archive.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <map>

#include "common/text.h"
#include "common/unique_handle.h"
#include "files/disk_space.h"
#include "sevenzip/archive_listing.h"
#include "sevenzip/child_process.h"
#include "support/archive_reading.h"
#include "support/log_lines.h"
#include "support/test_env.h"

namespace brivon {
namespace {

using testing::TempFolder;

std::string N(const std::wstring& path) { return NarrowLow8(path); }

class CopyFilesByPatternTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(::CreateDirectoryW(destination_.c_str(), nullptr)); }
  TempFolder program_;
  std::wstring destination_ = program_ / L"251206_093015";
};

TEST_F(CopyFilesByPatternTest, CopiesEachDataFileAndLogsIt) {
  ASSERT_TRUE(testing::WriteBytes(program_ / L"Datos.MDB", "mdb"));
  ASSERT_TRUE(testing::WriteBytes(program_ / L"Empresa.BDORVA", "bdorva"));
  ASSERT_TRUE(testing::WriteBytes(program_ / L"Programa.exe", "MZ"));
  EXPECT_EQ(CopyFilesByPattern(program_.path(), L"*.MDB", destination_, program_.path()), 1);
  EXPECT_EQ(CopyFilesByPattern(program_.path(), L"*.BDORVA", destination_, program_.path()), 1);
  EXPECT_EQ(testing::ReadBytes(destination_ + L"\\Datos.MDB"), "mdb");
  EXPECT_EQ(testing::ReadBytes(destination_ + L"\\Empresa.BDORVA"), "bdorva");
  EXPECT_FALSE(testing::Exists(destination_ + L"\\Programa.exe"));
  EXPECT_EQ(testing::LogTexts(program_.path(), L"descargas.csv"),
            (std::vector<std::string>{
                "COPIA_OK;" + N(program_ / L"Datos.MDB") + ";->;" + N(destination_ + L"\\Datos.MDB"),
                "COPIA_OK;" + N(program_ / L"Empresa.BDORVA") + ";->;" + N(destination_ + L"\\Empresa.BDORVA"),
            }));
}

TEST_F(CopyFilesByPatternTest, NothingMatchingLogsThePatternAndBothFolders) {
  struct Case {
    const char* name;
    std::wstring source;
  } cases[] = {{"no match", program_.path()}, {"no source folder", program_ / L"missing"}};
  for (const auto& c : cases) {
    EXPECT_EQ(CopyFilesByPattern(c.source, L"*.MDB", destination_, program_.path()), 0) << c.name;
    EXPECT_EQ(testing::LogTexts(program_.path(), L"descargas.csv").back(),
              "COPIA_PATRON_SIN_RESULTADOS;*.MDB;src=" + N(c.source) + ";dest=" + N(destination_))
        << c.name;
  }
}

// Whoever holds a data file, the copy's open shares with them unless they share no reading at all.
// Wine's own copy shares everything, so a copy made with it would pass the row below there; this
// table holds the copy's open to what Windows does. An open sharing reading only, as a plain copy
// asks, is refused by the engine's hold (Wine enforces the sharing of opens).
TEST_F(CopyFilesByPatternTest, TheCopysOpenSharesWithEveryHoldThatLetsOthersRead) {
  struct Case {
    const char* name;
    DWORD heldAccess, heldSharing;
    bool opens, opensSharingReadOnly;
  } cases[] = {
      {"the database engine", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, true, false},
      {"a spreadsheet writing it", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, true, false},
      {"a sync client, ready to rename it", GENERIC_READ | DELETE,
       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true, false},
      {"a reader", GENERIC_READ, FILE_SHARE_READ, true, true},
      {"a hold that shares nothing", GENERIC_READ, 0, false, false},
  };
  const std::wstring source = program_ / L"datos.mdb";
  ASSERT_TRUE(testing::WriteBytes(source, "mdb"));
  for (const auto& c : cases) {
    UniqueFile held(::CreateFileW(source.c_str(), c.heldAccess, c.heldSharing, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held) << c.name;
    UniqueFile copysOpen = OpenDataFileForCopy(source);
    EXPECT_EQ(static_cast<bool>(copysOpen), c.opens) << c.name;
    if (!c.opens) {
      EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << c.name;
    }
    UniqueFile readSharing(::CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                         nullptr));
    EXPECT_EQ(static_cast<bool>(readSharing), c.opensSharingReadOnly) << c.name;
  }
}

// The database engine keeps an open data file open for reading and writing, sharing both; the
// copy reads it (on Windows the system's copy fails there with 32). The user's file keeps its
// attributes; the copy has neither hidden nor read-only.
TEST_F(CopyFilesByPatternTest, CopiesAnOpenDataFileAndLeavesItsAttributesAlone) {
  const DWORD hiddenReadOnly = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY;
  struct Case {
    const char* name;
    DWORD sourceAttributes;
    DWORD heldAccess, heldSharing;  // 0: not held
    const char* earlierCopy;        // a copy already at the destination; null: none
    DWORD earlierCopyAttributes;
  } cases[] = {
      {"held by the engine", 0, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, 0},
      {"held by the engine, hidden and read-only", hiddenReadOnly, GENERIC_READ | GENERIC_WRITE,
       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, 0},
      {"read-only over a hidden read-only copy", FILE_ATTRIBUTE_READONLY, 0, 0, "older copy", hiddenReadOnly},
      {"hidden, archive bit", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE, 0, 0, nullptr, 0},
  };
  for (const auto& c : cases) {
    TempFolder program;
    const std::wstring destination = program / L"251206_093015";
    ASSERT_TRUE(::CreateDirectoryW(destination.c_str(), nullptr));
    const std::wstring source = program / L"datos.mdb";
    ASSERT_TRUE(testing::WriteBytes(source, std::string(3 * 1024 * 1024 + 7, 'd')));
    ASSERT_TRUE(::CreateDirectoryW((program / L"Carpeta.MDB").c_str(), nullptr));
    if (c.earlierCopy) {
      ASSERT_TRUE(testing::WriteBytes(destination + L"\\datos.mdb", c.earlierCopy));
      ASSERT_TRUE(::SetFileAttributesW((destination + L"\\datos.mdb").c_str(), c.earlierCopyAttributes));
    }
    if (c.sourceAttributes) {
      ASSERT_TRUE(::SetFileAttributesW(source.c_str(), c.sourceAttributes));
    }
    const DWORD before = testing::Attributes(source);
    UniqueFile held;
    if (c.heldAccess) {
      held.reset(::CreateFileW(source.c_str(), c.heldAccess, c.heldSharing, nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(held) << c.name;
    }
    EXPECT_EQ(CopyFilesByPattern(program.path(), L"*.MDB", destination, program.path()), 1) << c.name;
    held.reset();
    EXPECT_EQ(testing::ReadBytes(destination + L"\\datos.mdb"), std::string(3 * 1024 * 1024 + 7, 'd')) << c.name;
    EXPECT_EQ(testing::Attributes(source), before) << c.name;
    EXPECT_EQ(testing::Attributes(destination + L"\\datos.mdb") & hiddenReadOnly, 0u) << c.name;
    EXPECT_FALSE(testing::Exists(destination + L"\\Carpeta.MDB")) << c.name;
  }
}

// Copies that would leave less than the margin free are not made; the folder is archived all the same.
TEST_F(CopyFilesByPatternTest, NoCopiesWhenTheyWouldFillTheDrive) {
  ASSERT_TRUE(testing::InstallArchiveTool(program_.path()));
  ASSERT_TRUE(testing::WriteBytes(program_ / L"Datos.MDB", "mdb"));
  ASSERT_TRUE(testing::WriteBytes(destination_ + L"\\Programa.exe", "MZ previous"));
  // A margin past anything the drive holds: other programs freeing space meanwhile change nothing.
  CopyDataFilesAndArchive(program_.path(), destination_, "RESUMEN;", UINT64_MAX / 2);
  const auto texts = testing::LogTexts(program_.path(), L"descargas.csv");
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0].rfind("COPIA_SIN_ESPACIO;dest=" + N(destination_) + ";necesarios=6;libres=", 0), 0u) << texts[0];
  EXPECT_EQ(texts[1], "RESUMEN;dest=" + N(destination_) + ";MDB=0;BDORVA=0");
  EXPECT_EQ(texts[2].rfind("ZIP_CARPETA;", 0), 0u);
  EXPECT_FALSE(testing::Exists(destination_ + L"\\Datos.MDB"));
  EXPECT_EQ(testing::ListArchive(destination_ + L".zip"), std::vector<std::wstring>{L"Programa.exe"});
}

TEST(DiskSpaceTest, AStepMayNotLeaveLessThanTheMarginNorUnpackPastTheCap) {
  constexpr uint64_t MiB = 1024 * 1024;
  struct Case {
    uint64_t freeBytes, needed;
    bool leaves;
  } space[] = {
      {1000 * MiB, 100 * MiB, true},
      {1000 * MiB, 1000 * MiB - kFreeSpaceMarginBytes, true},  // exactly the margin left
      {1000 * MiB, 1000 * MiB - kFreeSpaceMarginBytes + 1, false},
      {100 * MiB, 0, false},  // already below the margin
      {1000 * MiB, 2000 * MiB, false},
      {UINT64_MAX, UINT64_MAX, false},
      {300 * MiB, 400 * MiB, false},  // a 400 MB package announced with 300 MB free
      {1000 * MiB, 400 * MiB, true},
  };
  for (const auto& c : space) EXPECT_EQ(LeavesEnoughSpace(c.freeBytes, c.needed), c.leaves) << c.freeBytes << " " << c.needed;
  // A download of any length: how far it may write before it reads the free space again.
  struct Writable {
    uint64_t freeBytes, margin, checkEvery, writable;
  } writables[] = {
      {1000 * MiB, 256 * MiB, 8 * MiB, 8 * MiB},                 // room to spare: the next look in 8 MiB
      {260 * MiB, 256 * MiB, 8 * MiB, 4 * MiB},                  // only what keeps the margin
      {256 * MiB + 1, 256 * MiB, 8 * MiB, 1},
      {256 * MiB, 256 * MiB, 8 * MiB, 0},                        // at the margin: nothing more
      {100 * MiB, 256 * MiB, 8 * MiB, 0},                        // below it already
      {UINT64_MAX, 256 * MiB, 8 * MiB, 8 * MiB},
      {1000 * MiB, 256 * MiB, 16 * MiB, 16 * MiB},               // reads larger than the usual span
  };
  for (const auto& c : writables) {
    EXPECT_EQ(WritableBeforeNextCheck(c.freeBytes, c.margin, c.checkEvery), c.writable) << c.freeBytes << " " << c.margin;
  }
  // The margin a step keeps, from what was free before it: half of a small drive's free space,
  // never past 256 MiB nor below 32 MiB.
  struct Margin {
    uint64_t freeBefore, margin;
  } margins[] = {
      {2000 * MiB, 256 * MiB},   // a large drive: the full margin
      {512 * MiB, 256 * MiB},    // exactly where half is the full margin
      {167 * MiB, 83 * MiB + MiB / 2},  // a desk's small disk: a 117 KB package still fits
      {64 * MiB, 32 * MiB},
      {40 * MiB, 32 * MiB},      // never below the least margin
      {0, 32 * MiB},
      {UINT64_MAX, 256 * MiB},
  };
  for (const auto& c : margins) EXPECT_EQ(MarginFor(c.freeBefore), c.margin) << c.freeBefore;
  EXPECT_TRUE(LeavesEnoughSpace(167 * MiB, 117360, MarginFor(167 * MiB)));
  struct Ratio {
    uint64_t package, unpacked;
    bool within;
  } ratios[] = {
      {10 * MiB, 40 * MiB, true},
      {10 * MiB, 10 * MiB * kMaxExpansionRatio, true},
      {10 * MiB, 10 * MiB * kMaxExpansionRatio + 1, false},
      {42000, 4500ull * 1000 * 1000 * 1000, false},  // a bomb: 42 kB to 4.5 PB
      {0, 0, true},
      {0, 1, false},
      {UINT64_MAX / 2, UINT64_MAX, true},  // no overflow
  };
  for (const auto& c : ratios) EXPECT_EQ(WithinExpansionCap(c.package, c.unpacked), c.within) << c.package << " " << c.unpacked;
}

TEST_F(CopyFilesByPatternTest, AFailedCopyLogsItsErrorAndTheOthersGoOn) {
  ASSERT_TRUE(testing::WriteBytes(program_ / L"A.MDB", "a"));
  ASSERT_TRUE(testing::WriteBytes(program_ / L"B.MDB", "b"));
  std::wstring missing = program_ / L"no such folder";
  EXPECT_EQ(CopyFilesByPattern(program_.path(), L"*.MDB", missing, program_.path()), 0);
  auto texts = testing::LogTexts(program_.path(), L"descargas.csv");
  ASSERT_EQ(texts.size(), 2u);
  for (const wchar_t* name : {L"A.MDB", L"B.MDB"}) {
    std::string line = "COPIA_ERROR;" + N(program_ / name) + ";->;" + N(missing + L"\\" + name) + ";err=" +
                       std::to_string(ERROR_PATH_NOT_FOUND);
    EXPECT_NE(std::find(texts.begin(), texts.end(), line), texts.end()) << line;
  }
}

// ArchiveFolder with the real 7za.exe in the program folder.
class ArchiveFolderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(testing::InstallArchiveTool(root_.path())); }

  // A folder as an update run leaves it: the previous executable, the data files, a subfolder.
  std::wstring MakeUpdateFolder(const std::wstring& programFolder) {
    std::wstring updates = programFolder + L"\\actualizaciones";
    std::wstring folder = updates + L"\\251206_093015";
    EXPECT_TRUE(::CreateDirectoryW(updates.c_str(), nullptr));
    EXPECT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    EXPECT_TRUE(::CreateDirectoryW((folder + L"\\extra").c_str(), nullptr));
    EXPECT_TRUE(testing::WriteBytes(folder + L"\\Programa.exe", "MZ previous"));
    EXPECT_TRUE(testing::WriteBytes(folder + L"\\Datos.MDB", "mdb"));
    EXPECT_TRUE(testing::WriteBytes(folder + L"\\Empresa.BDORVA", "bdorva"));
    EXPECT_TRUE(testing::WriteBytes(folder + L"\\extra\\nota.txt", "nota"));
    return folder;
  }
  std::string ZipLine(const std::wstring& folder, const char* state, unsigned long code) {
    return "ZIP_CARPETA;" + N(folder) + ";->;" + N(folder + L".zip") + ";estado=" + state + ";ec=" +
           std::to_string(code);
  }
  TempFolder root_;
};

TEST_F(ArchiveFolderTest, PacksTheFolderContentAtTheArchiveRoot) {
  const wchar_t* programFolders[] = {L"App", L"Program Files\\Mi App", L"O'Neil's  $app `[1]",
                                     L"Espa\x00f1" L"a \x00e1rbol"};
  for (const wchar_t* name : programFolders) {
    std::wstring program = root_ / name;
    ASSERT_EQ(::SHCreateDirectoryExW(nullptr, program.c_str(), nullptr), ERROR_SUCCESS);
    ASSERT_TRUE(testing::InstallArchiveTool(program));
    std::wstring folder = MakeUpdateFolder(program);
    // A hidden data-file copy and a read-only one go in like the others.
    ASSERT_TRUE(::SetFileAttributesW((folder + L"\\Datos.MDB").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(::SetFileAttributesW((folder + L"\\Empresa.BDORVA").c_str(), FILE_ATTRIBUTE_READONLY));
    std::wstring archive = L"unchanged";
    EXPECT_TRUE(ArchiveFolder(folder, &archive, program)) << N(name);
    EXPECT_EQ(archive, folder + L".zip");
    auto entries = testing::ListArchive(folder + L".zip");
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::wstring>{L"Datos.MDB", L"Empresa.BDORVA", L"Programa.exe", L"extra",
                                                  L"extra\\nota.txt"}))
        << N(name);
    EXPECT_EQ(testing::LogTexts(program, L"descargas.csv"), std::vector<std::string>{ZipLine(folder, "OK", 0)})
        << N(name);
    EXPECT_EQ(testing::ReadBytes(folder + L"\\Programa.exe"), "MZ previous");  // the folder stays as it was
    EXPECT_FALSE(testing::Exists(folder + L".nuevo.zip"));
  }
}

TEST_F(ArchiveFolderTest, ReplacesAnEarlierArchive) {
  std::wstring folder = MakeUpdateFolder(root_.path());
  ASSERT_TRUE(testing::WriteBytes(folder + L".zip", "not even a zip"));
  std::wstring archive;
  EXPECT_TRUE(ArchiveFolder(folder, &archive, root_.path()));
  bool ok = false;
  EXPECT_EQ(testing::ListArchive(folder + L".zip", &ok).size(), 5u);
  EXPECT_TRUE(ok);
}

TEST_F(ArchiveFolderTest, FailuresAreLoggedWithTheirCode) {
  struct Case {
    const char* name;
    bool held;    // a file held without sharing: 7-Zip's warning, the file left out
    bool noTool;
    bool huge;    // past the time limit
    unsigned long code;
  } cases[] = {
      {"a file 7-Zip cannot read", true, false, false, 1},
      {"no 7za.exe", false, true, false, 2},
      {"past the time limit", false, false, true, kChildTimedOutExitCode},
  };
  // Only the huge folder is meant to meet the limit: a loaded machine may take seconds to start 7-Zip.
  for (const auto& c : cases) {
    TempFolder program;
    ASSERT_TRUE(c.noTool || testing::InstallArchiveTool(program.path()));
    std::wstring folder = MakeUpdateFolder(program.path());
    UniqueFile held;
    if (c.held) {
      held.reset(::CreateFileW((folder + L"\\Datos.MDB").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(held);
    }
    if (c.huge) {  // 20 GB, sparse
      UniqueFile file(::CreateFileW((folder + L"\\GRANDE.MDB").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                    nullptr));
      LARGE_INTEGER size;
      size.QuadPart = 20LL * 1000 * 1000 * 1000;
      ASSERT_TRUE(::SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.get()));
    }
    std::wstring archive = L"unchanged";
    EXPECT_FALSE(ArchiveFolder(folder, &archive, program.path(), c.huge ? 1500 : kChildProcessTimeoutMs)) << c.name;
    EXPECT_EQ(archive, L"") << c.name;
    EXPECT_EQ(testing::LogTexts(program.path(), L"descargas.csv").back(), ZipLine(folder, "ERROR", c.code)) << c.name;
    EXPECT_FALSE(testing::Exists(folder + L".zip")) << c.name;
    EXPECT_FALSE(testing::Exists(folder + L".nuevo.zip")) << c.name;
    held.reset();
    EXPECT_EQ(testing::ReadBytes(folder + L"\\Datos.MDB"), "mdb") << c.name;
  }
}

// 7-Zip's technical listing: the archive's own block, a line of dashes, then one block per entry.
TEST(ArchiveListingTest, ReadsEachFileWithItsSizeAndTimeAndLeavesFoldersOut) {
  const std::string head = "Listing archive: A.zip\r\n\r\n--\r\nPath = A.zip\r\nType = zip\r\n\r\n----------\r\n";
  constexpr int64_t kDay = 24 * 3600 * 10000000LL;
  const int64_t march5 = *ParseListingTime("2024-03-05 00:00:00");
  struct Case {
    const char* name;
    std::string text;
    bool listing;
    std::map<std::wstring, uint64_t> files;
    uint64_t total;  // unpacked
    std::map<std::wstring, int64_t> modified;
  } cases[] = {
      {"files and a folder",
       head + "Path = sub\r\nFolder = +\r\nSize = 0\r\nModified = 2024-03-05 10:11:12\r\n\r\n"
              "Path = sub\\solo.txt\r\nFolder = -\r\nSize = 2\r\nModified = 2024-03-05 10:11:13\r\n"
              "\r\nPath = Espa\xc3\xb1" "a.MDB\r\nSize = 5\r\nModified = 2024-03-06 00:00:00.5\r\nAttributes = A\r\n",
       true,
       {{L"sub\\solo.txt", 2}, {L"Espa\u00f1" L"a.MDB", 5}},
       7,
       {{L"sub\\solo.txt", march5 + (10 * 3600 + 11 * 60 + 13) * 10000000LL},
        {L"Espa\u00f1" L"a.MDB", march5 + kDay + 5000000}}},
      {"a folder by its attributes", head + "Path = d\r\nSize = 4096\r\nAttributes = D\r\n", true, {}, 0, {}},
      {"a bomb's sizes, no times",
       head + "Path = a\r\nSize = 18446744073709551000\r\n\r\nPath = b\r\nSize = 18446744073709551000\r\n",
       true,
       {{L"a", 18446744073709551000ull}, {L"b", 18446744073709551000ull}},
       UINT64_MAX,  // no overflow
       {{L"a", 0}, {L"b", 0}}},
      {"a damaged time", head + "Path = a\r\nSize = 1\r\nModified = 2024-13-05 10:11:12\r\n", true, {{L"a", 1}}, 1,
       {{L"a", 0}}},
      {"an empty archive", head, true, {}, 0, {}},
      {"no listing (an error)", "ERROR: A.zip\r\nCannot open the file as archive\r\n", false, {}, 0, {}},
  };
  for (const auto& c : cases) {
    std::map<std::wstring, uint64_t> files{{L"stale", 1}};
    EXPECT_EQ(ParseArchiveListing(c.text, files), c.listing) << c.name;
    EXPECT_EQ(files, c.files) << c.name;
    uint64_t total = 1;
    EXPECT_EQ(ParseUnpackedTotal(c.text, &total), c.listing) << c.name;
    EXPECT_EQ(total, c.total) << c.name;
    FileStamps stamps{{L"stale", {1, 1}}};
    EXPECT_EQ(ParseArchiveStamps(c.text, stamps), c.listing) << c.name;
    std::map<std::wstring, int64_t> modified;
    for (const auto& [path, stamp] : stamps) modified[path] = stamp.modified;
    EXPECT_EQ(modified, c.modified) << c.name;
  }
}

// "Modified = " in local time, to the second or with a fraction down to 100 ns.
TEST(ArchiveListingTest, ReadsTheListingsTimes) {
  constexpr int64_t kSecond = 10000000;
  struct Case {
    const char* text;
    std::optional<int64_t> units;  // since 1601-01-01 00:00:00
  } cases[] = {
      {"1601-01-01 00:00:00", 0},
      {"1601-01-02 00:00:01", (24 * 3600 + 1) * kSecond},
      {"1970-01-01 00:00:00", 11644473600 * kSecond},
      {"2024-02-29 23:59:59", 13353724799 * kSecond},  // a leap day
      {"2024-03-01 00:00:00.1234567", 13353724800 * kSecond + 1234567},
      {"2024-03-01 00:00:00.5", 13353724800 * kSecond + 5000000},
      {"2024-03-01 00:00:00.", std::nullopt},
      {"2024-03-01 00:00", std::nullopt},
      {"2024-03-01T00:00:00", std::nullopt},
      {"2024-00-01 00:00:00", std::nullopt},
      {"2024-03-01 24:00:00", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseListingTime(c.text), c.units) << c.text;
}

}  // namespace
}  // namespace brivon
