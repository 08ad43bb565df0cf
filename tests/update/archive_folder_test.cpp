#include "update/folder_archive.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <map>

#include "common/text.h"
#include "support/powershell_standin.h"
#include "support/test_env.h"
#include "archive/archive_listing.h"
#include "update/archive_test_log.h"
#include "archive/child_process.h"

namespace brivon {
namespace {

using archive_tests::DownloadLogTexts;
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
  EXPECT_EQ(DownloadLogTexts(program_.path()),
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
    EXPECT_EQ(DownloadLogTexts(program_.path()).back(),
              "COPIA_PATRON_SIN_RESULTADOS;*.MDB;src=" + N(c.source) + ";dest=" + N(destination_))
        << c.name;
  }
}

TEST_F(CopyFilesByPatternTest, MatchesAnyCaseSkipsFoldersAndClearsReadOnly) {
  ASSERT_TRUE(testing::WriteBytes(program_ / L"datos.mdb", "lower"));
  ASSERT_TRUE(::SetFileAttributesW((program_ / L"datos.mdb").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(::CreateDirectoryW((program_ / L"Carpeta.MDB").c_str(), nullptr));
  ASSERT_TRUE(testing::WriteBytes(destination_ + L"\\datos.mdb", "older copy"));
  EXPECT_EQ(CopyFilesByPattern(program_.path(), L"*.MDB", destination_, program_.path()), 1);
  EXPECT_EQ(testing::ReadBytes(destination_ + L"\\datos.mdb"), "lower");
  EXPECT_FALSE(testing::Attributes(program_ / L"datos.mdb") & FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(testing::Exists(destination_ + L"\\Carpeta.MDB"));
}

TEST_F(CopyFilesByPatternTest, AFailedCopyLogsItsErrorAndTheOthersGoOn) {
  ASSERT_TRUE(testing::WriteBytes(program_ / L"A.MDB", "a"));
  ASSERT_TRUE(testing::WriteBytes(program_ / L"B.MDB", "b"));
  std::wstring missing = program_ / L"no such folder";
  EXPECT_EQ(CopyFilesByPattern(program_.path(), L"*.MDB", missing, program_.path()), 0);
  auto texts = DownloadLogTexts(program_.path());
  ASSERT_EQ(texts.size(), 2u);
  for (const wchar_t* name : {L"A.MDB", L"B.MDB"}) {
    std::string line = "COPIA_ERROR;" + N(program_ / name) + ";->;" + N(missing + L"\\" + name) + ";err=" +
                       std::to_string(ERROR_PATH_NOT_FOUND);
    EXPECT_NE(std::find(texts.begin(), texts.end(), line), texts.end()) << line;
  }
}

// ArchiveFolder with the PowerShell stand-in in place of Wine's stub.
class ArchiveFolderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(testing::InstallPowerShellStandIn()); }

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
    std::wstring folder = MakeUpdateFolder(program);
    std::wstring archive = L"unchanged";
    EXPECT_TRUE(ArchiveFolder(folder, &archive, program)) << N(name);
    EXPECT_EQ(archive, folder + L".zip");
    auto entries = testing::ListArchive(folder + L".zip");
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::wstring>{L"Datos.MDB", L"Empresa.BDORVA", L"Programa.exe", L"extra",
                                                  L"extra\\nota.txt"}))
        << N(name);
    EXPECT_EQ(DownloadLogTexts(program), std::vector<std::string>{ZipLine(folder, "OK", 0)}) << N(name);
    EXPECT_EQ(testing::ReadBytes(folder + L"\\Programa.exe"), "MZ previous");  // the folder stays as it was
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
    const wchar_t* mode;
    unsigned long timeoutMs;
    unsigned long code;
  } cases[] = {
      {L"fail", 60000, 1},
      {L"silent", 60000, 0},  // ends with 0 but writes nothing: not an archive
      {L"hang", 2000, kChildTimedOutExitCode},
  };
  std::wstring folder = MakeUpdateFolder(root_.path());
  for (const auto& c : cases) {
    testing::PowerShellMode mode(c.mode);
    std::wstring archive = L"unchanged";
    EXPECT_FALSE(ArchiveFolder(folder, &archive, root_.path(), c.timeoutMs)) << N(c.mode);
    EXPECT_EQ(archive, L"") << N(c.mode);
    EXPECT_EQ(DownloadLogTexts(root_.path()).back(), ZipLine(folder, "ERROR", c.code)) << N(c.mode);
    EXPECT_FALSE(testing::Exists(folder + L".zip")) << N(c.mode);
    EXPECT_EQ(testing::ReadBytes(folder + L"\\Datos.MDB"), "mdb") << N(c.mode);
  }
}

TEST_F(ArchiveFolderTest, WithoutPowerShellTheSystemErrorIsLogged) {
  std::wstring folder = MakeUpdateFolder(root_.path());
  wchar_t saved[MAX_PATH] = {};
  ::GetEnvironmentVariableW(L"SystemRoot", saved, MAX_PATH);
  ::SetEnvironmentVariableW(L"SystemRoot", (root_ / L"no windows").c_str());
  std::wstring archive;
  bool result = ArchiveFolder(folder, &archive, root_.path());
  ::SetEnvironmentVariableW(L"SystemRoot", saved);
  EXPECT_FALSE(result);
  std::string line = DownloadLogTexts(root_.path()).back();
  EXPECT_TRUE(line == ZipLine(folder, "ERROR", ERROR_PATH_NOT_FOUND) ||
              line == ZipLine(folder, "ERROR", ERROR_FILE_NOT_FOUND))
      << line;
}

// 7-Zip's technical listing: the archive's own block, a line of dashes, then one block per entry.
TEST(ArchiveListingTest, ReadsEachFileWithItsSizeAndLeavesFoldersOut) {
  const std::string head = "Listing archive: A.zip\r\n\r\n--\r\nPath = A.zip\r\nType = zip\r\n\r\n----------\r\n";
  struct Case {
    const char* name;
    std::string text;
    bool listing;
    std::map<std::wstring, uint64_t> files;
  } cases[] = {
      {"files and a folder",
       head + "Path = sub\r\nFolder = +\r\nSize = 0\r\n\r\nPath = sub\\solo.txt\r\nFolder = -\r\nSize = 2\r\n"
              "\r\nPath = Espa\xc3\xb1" "a.MDB\r\nSize = 5\r\nAttributes = A\r\n",
       true,
       {{L"sub\\solo.txt", 2}, {L"Espa\u00f1" L"a.MDB", 5}}},
      {"a folder by its attributes", head + "Path = d\r\nSize = 0\r\nAttributes = D\r\n", true, {}},
      {"an empty archive", head, true, {}},
      {"no listing (an error)", "ERROR: A.zip\r\nCannot open the file as archive\r\n", false, {}},
  };
  for (const auto& c : cases) {
    std::map<std::wstring, uint64_t> files{{L"stale", 1}};
    EXPECT_EQ(ParseArchiveListing(c.text, files), c.listing) << c.name;
    EXPECT_EQ(files, c.files) << c.name;
  }
}

}  // namespace
}  // namespace brivon
