#include "sevenzip/extraction.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/text.h"
#include "sevenzip/extraction_progress.h"
#include "support/program_run.h"
#include "support/stored_zip.h"
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

// 7-Zip's -bsp1 output, each case read whole, one byte at a time, and cut in two at every place. The
// first five are as 7za.exe 21.07 writes them into a pipe; the rest are the edges.
TEST(ExtractionProgressTest, TakesOnlyThePercentThatOpensAProgressLine) {
  struct Case {
    const char* name;
    std::string output;
    int percent;  // -1: none yet
  } cases[] = {
      {"header and archive scan",
       "\r\n7-Zip (a) 21.07 (x64) : Copyright (c) 1999-2021 Igor Pavlov : 2021-12-26\r\n\r\n"
       "Scanning the drive for archives:\r\n  0M Scan C:\\Temp\\\r                    \r"
       "1 file, 50347400 bytes (49 MiB)\r\n",
       -1},
      {"first figure, erased", "Physical Size = 50347400\r\n\r\n  0%\r    \r", 0},
      {"file counts, then the summary",
       "  0%\r    \r 33% 50\r          \r 64% 97\r          \r 93% 140\r            \rEverything is Ok\r\n\r\n"
       "Files: 150\r\nSize:       157286400\r\n",
       93},
      {"a file name with percents", " 11% 1 - 50% off.bin\r                    \r 30% 1 - 50% off.bin\r", 30},
      {"the name changes", " 48% 1 - 50% off.bin\r                    \r 64% 2 - 7%.bin\r               \r", 64},
      {"a full figure", " 95% 2 - 7%.bin\r               \r100%\r    \r", 100},
      {"erased with backspaces", "  5%\b\b\b\b    \b\b\b\b 12% 3 - a.bin", 12},
      {"never back", " 64% 2\r      \r 30% 1\r", 64},
      {"not percentages", " 7M\r1000%\r 5 %\r-12%\r%\r", -1},
      {"an unfinished figure", " 42% 1\r      \r 5", 42},
  };
  for (const auto& c : cases) {
    const std::string& out = c.output;
    std::vector<std::vector<std::string>> feeds = {{out}, {}};
    for (char byte : out) feeds[1].push_back(std::string(1, byte));
    for (size_t cut = 0; cut <= out.size(); ++cut) feeds.push_back({out.substr(0, cut), out.substr(cut)});
    for (const auto& pieces : feeds) {
      ExtractionProgressReader reader;
      for (const auto& piece : pieces) reader.Feed(piece.data(), piece.size());
      EXPECT_EQ(reader.Percent().value_or(-1), c.percent) << c.name << ", " << pieces.size() << " pieces";
    }
  }
}

// A program folder with the real 7za.exe, under a path with spaces and an accented letter.
class ExtractArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(::CreateDirectoryW(app_.c_str(), nullptr));
    ASSERT_TRUE(testing::InstallArchiveTool(app_));
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

// A multi-megabyte archive that does not compress: 7-Zip's own figures come through while it
// unpacks, and the outcome is the same as without them.
TEST_F(ExtractArchiveTest, ProgressRisesToOneHundredWithTheSameOutcome) {
  std::string noise(6 * 1024 * 1024, '\0');
  uint32_t state = 2463534242u;
  for (char& byte : noise) {
    state ^= state << 13, state ^= state >> 17, state ^= state << 5;
    byte = static_cast<char>(state >> 24);
  }
  std::string reversed(noise.rbegin(), noise.rend());
  std::wstring archive = app_ + L"\\Grande.zip";
  ASSERT_TRUE(WriteBytes(archive, testing::MakeStoredZip({{"datos.bin", noise}, {"50% rebaja.bin", reversed}})));

  for (bool withProgress : {false, true}) {
    std::wstring destination = app_ + (withProgress ? L"\\Con avance" : L"\\Sin avance");
    std::vector<int> seen;
    unsigned long code = 99;
    bool extracted = withProgress ? ExtractArchive(app_, archive, destination, &code, kChildProcessTimeoutMs,
                                                   [&](int percent) { seen.push_back(percent); })
                                  : ExtractArchive(app_, archive, destination, &code);
    EXPECT_TRUE(extracted) << withProgress;
    EXPECT_EQ(code, 0u) << withProgress;
    EXPECT_TRUE(ReadBytes(destination + L"\\datos.bin") == noise) << withProgress;
    EXPECT_TRUE(ReadBytes(destination + L"\\50% rebaja.bin") == reversed) << withProgress;
    if (!withProgress) continue;
    // 7-Zip's first figure at least, then each one higher, 100 last.
    ASSERT_GE(seen.size(), 2u);
    for (size_t i = 1; i < seen.size(); ++i) EXPECT_LT(seen[i - 1], seen[i]) << i;
    EXPECT_GE(seen.front(), 0);
    EXPECT_EQ(seen.back(), 100);
  }
}

TEST_F(ExtractArchiveTest, CorruptArchiveFailsWithTheToolsOwnCode) {
  std::wstring archive = app_ + L"\\Roto.zip";
  ASSERT_TRUE(WriteBytes(archive, "PK\x03\x04 this is not really a zip archive"));
  for (bool withProgress : {false, true}) {
    std::vector<int> seen;
    auto progress = [&](int percent) { seen.push_back(percent); };
    unsigned long code = 0;
    EXPECT_FALSE(ExtractArchive(app_, archive, app_ + L"\\Roto", &code, kChildProcessTimeoutMs,
                                withProgress ? std::function<void(int)>(progress) : nullptr));
    EXPECT_EQ(code, 2u) << withProgress;  // 7-Zip's fatal error
    EXPECT_TRUE(IsDirectory(app_ + L"\\Roto"));
    for (int percent : seen) EXPECT_LT(percent, 100);  // a failure is never shown as complete
  }
}

// 7-Zip asks for a password on its console. It runs with none, so it fails at once instead of
// waiting, unseen, until its time limit.
TEST_F(ExtractArchiveTest, APackageAskingForAPasswordFailsAtOnce) {
  const std::wstring source = folder_ / L"fuente";
  ASSERT_TRUE(::CreateDirectoryW(source.c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(source + L"\\Programa.exe", "MZ secret"));
  const std::wstring archive = app_ + L"\\Clave.zip";
  ASSERT_EQ(testing::RunToEnd(L"\"" + app_ + L"\\7za.exe\" a -tzip -pclave \"" + archive + L"\" \"" + source + L"\\*\""),
            0u);
  unsigned long code = 0;
  EXPECT_FALSE(ExtractArchive(app_, archive, app_ + L"\\Clave", &code, 30000));
  EXPECT_EQ(code, 255u);  // 7-Zip's "stopped by the user": its input ended; never the time limit
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
