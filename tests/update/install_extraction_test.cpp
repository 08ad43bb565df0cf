#include "update/extraction.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/text.h"
#include "install_support.h"
#include "support/test_env.h"

namespace brivon {
namespace {

using testing::Exists;
using testing::IsDirectory;
using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;

TEST(ExtractCommandLineTest, QuotesEveryPathAndJoinsTheOutputSwitch) {
  struct Case {
    const wchar_t* tool;
    const wchar_t* archive;
    const wchar_t* destination;
    const wchar_t* line;
  } cases[] = {
      {L"C:\\App\\7za.exe", L"C:\\App\\Paquete.zip", L"C:\\App\\Paquete",
       L"\"C:\\App\\7za.exe\" x \"C:\\App\\Paquete.zip\" -o\"C:\\App\\Paquete\" -y"},
      {L"C:\\Program Files\\Mi App\\7za.exe", L"C:\\Program Files\\Mi App\\Mi Paquete.zip",
       L"C:\\Program Files\\Mi App\\Mi Paquete",
       L"\"C:\\Program Files\\Mi App\\7za.exe\" x \"C:\\Program Files\\Mi App\\Mi Paquete.zip\" "
       L"-o\"C:\\Program Files\\Mi App\\Mi Paquete\" -y"},
  };
  for (const auto& c : cases) EXPECT_EQ(ExtractCommandLine(c.tool, c.archive, c.destination), c.line);
}

// A program folder with the real 7za.exe, under a path with spaces and an accented letter.
class ExtractArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(::CreateDirectoryW(app_.c_str(), nullptr));
    ASSERT_TRUE(::CopyFileW(testing::ArchiveToolPath().c_str(), (app_ + L"\\7za.exe").c_str(), FALSE));
  }
  // Packs the tree under `source` into `archive` with 7za itself.
  void Pack(const std::wstring& source, const std::wstring& archive) {
    ASSERT_EQ(testing::RunToEnd(L"\"" + app_ + L"\\7za.exe\" a -tzip \"" + archive + L"\" \"" + source + L"\\*\""),
              0u);
  }
  TempFolder folder_;
  std::wstring app_ = folder_ / L"Mi Programa \x00e1";
};

TEST_F(ExtractArchiveTest, NestedFoldersKeepTheirStructure) {
  std::wstring source = folder_ / L"fuente";
  ASSERT_TRUE(::CreateDirectoryW(source.c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW((source + L"\\bin").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW((source + L"\\bin\\datos con espacio").c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(source + L"\\bin\\Programa.exe", "MZ programa"));
  ASSERT_TRUE(WriteBytes(source + L"\\bin\\ayuda.dll", "MZ ayuda"));
  ASSERT_TRUE(WriteBytes(source + L"\\bin\\datos con espacio\\tabla.mdb", std::string(100000, 'd')));
  ASSERT_TRUE(WriteBytes(source + L"\\Leeme.txt", "hola"));
  std::wstring archive = app_ + L"\\Paquete nuevo.zip", destination = app_ + L"\\Paquete nuevo";
  Pack(source, archive);

  unsigned long code = 99;
  EXPECT_TRUE(ExtractArchive(app_, archive, destination, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(ReadBytes(destination + L"\\bin\\Programa.exe"), "MZ programa");
  EXPECT_EQ(ReadBytes(destination + L"\\bin\\ayuda.dll"), "MZ ayuda");
  EXPECT_EQ(ReadBytes(destination + L"\\bin\\datos con espacio\\tabla.mdb"), std::string(100000, 'd'));
  EXPECT_EQ(ReadBytes(destination + L"\\Leeme.txt"), "hola");

  // Into a folder that already holds older files: they are overwritten without a question.
  ASSERT_TRUE(WriteBytes(destination + L"\\Leeme.txt", "old"));
  EXPECT_TRUE(ExtractArchive(app_, archive, destination, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(ReadBytes(destination + L"\\Leeme.txt"), "hola");
}

TEST_F(ExtractArchiveTest, CorruptArchiveFailsWithTheToolsOwnCode) {
  std::wstring archive = app_ + L"\\Roto.zip";
  ASSERT_TRUE(WriteBytes(archive, "PK\x03\x04 this is not really a zip archive"));
  unsigned long code = 0;
  EXPECT_FALSE(ExtractArchive(app_, archive, app_ + L"\\Roto", &code));
  EXPECT_EQ(code, 2u);  // 7-Zip's fatal error
  EXPECT_TRUE(IsDirectory(app_ + L"\\Roto"));
}

TEST_F(ExtractArchiveTest, EntriesClimbingOutWriteNothingOutside) {
  std::wstring archive = app_ + L"\\Malo.zip", destination = app_ + L"\\Malo";
  ASSERT_TRUE(WriteBytes(archive, testing::MakeStoredZip({{"../fuera.exe", "MZ out"},
                                                          {"sub/../../fuera2.exe", "MZ out2"},
                                                          {"../../lejos.exe", "MZ far"},
                                                          {"dentro.exe", "MZ in"}})));
  unsigned long code = 99;
  ExtractArchive(app_, archive, destination, &code);
  EXPECT_LE(code, 2u);
  EXPECT_FALSE(Exists(app_ + L"\\fuera.exe"));
  EXPECT_FALSE(Exists(app_ + L"\\fuera2.exe"));
  EXPECT_FALSE(Exists(folder_ / L"lejos.exe"));
  EXPECT_EQ(ReadBytes(destination + L"\\dentro.exe"), "MZ in");
}

TEST_F(ExtractArchiveTest, DestinationAndToolFailuresGiveTheirOwnCodes) {
  std::wstring archive = app_ + L"\\Paquete.zip";
  ASSERT_TRUE(WriteBytes(archive, testing::MakeStoredZip({{"Programa.exe", "MZ"}})));
  unsigned long code = 0;
  // Only the last level is created.
  EXPECT_FALSE(ExtractArchive(app_, archive, app_ + L"\\no\\existe", &code));
  EXPECT_EQ(code, kExtractFolderFailed);
  EXPECT_FALSE(Exists(app_ + L"\\no"));

  // No tool, or a folder in its place: code 2 without starting anything; the folder is made.
  TempFolder bare;
  for (bool folderInPlace : {false, true}) {
    if (folderInPlace) {
      ASSERT_TRUE(::CreateDirectoryW((bare / L"7za.exe").c_str(), nullptr));
    }
    std::wstring destination = bare / (folderInPlace ? L"Paquete2" : L"Paquete1");
    code = 0;
    EXPECT_FALSE(ExtractArchive(bare.path(), archive, destination, &code));
    EXPECT_EQ(code, kExtractToolMissing);
    EXPECT_TRUE(IsDirectory(destination));
    EXPECT_FALSE(Exists(destination + L"\\Programa.exe"));
  }
}

// Only 7-Zip's success and warning codes count; its errors, a crash and the program's own codes
// do not.
TEST(ExtractionVerdictTest, ZeroAndOneAreSuccess) {
  struct Case {
    unsigned long code;
    bool success;
  } cases[] = {{0, true},      {1, true},
               {2, false},     {7, false},
               {8, false},     {255, false},
               {0xC0000005, false}, {kExtractFolderFailed, false},
               {kChildTimedOutExitCode, false}};
  for (const auto& c : cases) EXPECT_EQ(IsExtractionSuccess(c.code), c.success) << c.code;
}

TEST_F(ExtractArchiveTest, AFileStandingAtTheDestinationStillRunsTheTool) {
  std::wstring archive = app_ + L"\\Paquete.zip", destination = app_ + L"\\Paquete";
  ASSERT_TRUE(WriteBytes(archive, testing::MakeStoredZip({{"Programa.exe", "MZ"}})));
  ASSERT_TRUE(WriteBytes(destination, "a file"));
  unsigned long code = 0;
  EXPECT_FALSE(ExtractArchive(app_, archive, destination, &code));
  EXPECT_NE(code, kExtractFolderFailed);  // 7-Zip ran and gave its own code
  EXPECT_EQ(ReadBytes(destination), "a file");
}

}  // namespace
}  // namespace brivon
