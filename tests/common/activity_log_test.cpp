#include "common/activity_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <thread>

#include "common/text.h"
#include "files/folder_tree.h"
#include "support/log_lines.h"
#include "support/test_env.h"

namespace brivon {
namespace {

using testing::Attributes;
using testing::Exists;
using testing::ReadBytes;
using testing::TempFolder;

const std::regex kStampedLine(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2};)");

// The system's local time as the logs stamp it.
std::string StampNow() {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  char text[32];
  std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                t.wSecond);
  return text;
}

TEST(LogLineTest, FramesTheTextAfterAZeroPaddedLocalTimestamp) {
  struct Case {
    LocalTime when;
    std::string text;
    std::string expected;
  } cases[] = {
      {{2025, 12, 6, 9, 30, 15}, "COPIA_OK;a;->;b", "2025-12-06 09:30:15;COPIA_OK;a;->;b\n"},
      {{2005, 1, 2, 0, 0, 0}, "", "2005-01-02 00:00:00;\n"},
      // A line break inside the text could split the line or forge another: it becomes a space.
      {{2024, 2, 29, 23, 59, 59}, "a;b\nc", "2024-02-29 23:59:59;a;b c\n"},
      {{2024, 3, 1, 0, 0, 0}, "DESCARGA;http://x/\r\n2024-03-01 00:00:00;FALSA\r",
       "2024-03-01 00:00:00;DESCARGA;http://x/  2024-03-01 00:00:00;FALSA \n"},
      {{2025, 1, 1, 1, 1, 1}, "vac\xed" "a", "2025-01-01 01:01:01;vac\xed" "a\n"},
      // A zero byte would end the line for a writer of C strings, before its CR LF.
      {{2025, 1, 1, 1, 1, 1}, std::string("http://x/t.rtf\0resto", 20), "2025-01-01 01:01:01;http://x/t.rtf resto\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatLogLine(c.when, c.text), c.expected);
}

TEST(LogLineTest, NarrowsWidePathsToTheLowByteOfEachCodeUnit) {
  struct Case {
    std::wstring wide;
    std::string narrow;
  } cases[] = {
      {L"C:\\Programas\\Orvane", "C:\\Programas\\Orvane"},
      {L"C:\\Facturaci\u00f3n", "C:\\Facturaci\xf3n"},  // Latin-1 lands as its Windows-1252 byte
      {L"C:\\\u0152uvre", "C:\\\x52uvre"},             // U+0152 keeps only 0x52
      {L"\u20ac", "\xac"},
  };
  for (const auto& c : cases) EXPECT_EQ(NarrowLow8(c.wide), c.narrow);
}

// A program folder of exactly `length` characters under root, made level by level on the long form.
std::wstring FolderOfLength(const std::wstring& root, size_t length) {
  std::wstring folder = root;
  while (folder.size() < length) {
    const size_t part = std::min<size_t>(100, length - folder.size() - 1);
    folder += L"\\" + std::wstring(part == 0 ? 1 : part, L'd');
    ::CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr);
  }
  return folder;
}

// The log folder's name takes 23 characters past the program folder's: from about 225 on, the
// folder and its files lie past the 248 and 260 characters that paths without the long form stop at.
TEST(ActivityLogTest, FirstCallCreatesTheFolderAndFileWithOneCrLfLineAtAnyFolderLength) {
  TempFolder root;
  for (size_t length : {size_t{0}, size_t{230}, size_t{240}, size_t{259}}) {
    const std::wstring program = length == 0 ? root.path() + L"\\corta" : FolderOfLength(root.path(), length);
    if (length == 0) ::CreateDirectoryW(program.c_str(), nullptr);
    SCOPED_TRACE(program.size());
    AppendActivityLog(program, kDownloadsLog, "INICIO;x");
    AppendActivityLog(program, kDownloadsLog, "FIN;y");
    auto lines = testing::LogLines(L"\\\\?\\" + testing::LogPath(program, L"descargas.csv"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(lines[0].substr(0, 20), kStampedLine)) << lines[0];
    EXPECT_EQ(lines[0].substr(20), "INICIO;x");
    EXPECT_EQ(lines[1].substr(20), "FIN;y");
    EXPECT_TRUE(EnsureDirectoryTree(program + L"\\a\\b"));
  }
}

// Writers at once (the update thread and the close bar; a second machine's start on a share):
// each line lands whole, none over another. A seek to the end and a write, as the C runtime's
// append mode does, lose a few lines in a thousand here.
TEST(ActivityLogTest, WritersAtOnceNeverOverwriteEachOthersLines) {
  TempFolder program;
  constexpr int kWriters = 4;
  constexpr int kLinesEach = 1000;
  auto write = [&](char who) {
    for (int i = 0; i < kLinesEach; ++i) AppendActivityLog(program.path(), kDownloadsLog, std::string(40, who));
  };
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) writers.emplace_back(write, w % 2 ? 'b' : 'a');
  for (std::thread& writer : writers) writer.join();
  auto lines = testing::LogLines(testing::LogPath(program.path(), L"descargas.csv"));
  ASSERT_EQ(lines.size(), static_cast<size_t>(kWriters * kLinesEach));
  for (const std::string& line : lines) {
    const std::string text = line.substr(20);
    EXPECT_TRUE(text == std::string(40, 'a') || text == std::string(40, 'b')) << line;
  }
}

TEST(ActivityLogTest, AppendsEmptyMultiLineAndNarrowedTextsByteForByte) {
  TempFolder program;
  std::string narrowed = "COPIA_OK;" + NarrowLow8(L"C:\\\u0152uvre\\d\u00e1tos.MDB");
  AppendActivityLog(program.path(), kExtractionsLog, "");
  AppendActivityLog(program.path(), kExtractionsLog, "primera\nsegunda");
  AppendActivityLog(program.path(), kExtractionsLog, narrowed);
  auto lines = testing::LogLines(testing::LogPath(program.path(), L"extracciones.csv"));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].size(), 20u);  // the timestamp and ";" alone
  EXPECT_EQ(lines[1].substr(20), "primera segunda");  // the text's own line feed: still one line
  EXPECT_EQ(lines[2].substr(20), "COPIA_OK;C:\\Ruvre\\d\xe1tos.MDB");
}

TEST(ActivityLogTest, MissingProgramFolderMakesEveryCallASilentNoOp) {
  TempFolder parent;
  std::wstring missing = parent / L"no\\existe";
  AppendActivityLog(missing, kDownloadsLog, "x");
  EXPECT_FALSE(Exists(missing));
}

TEST(CheckinLogTest, StaysReadOnlyAndSystemBetweenWritesAndStillAppends) {
  TempFolder program;
  const std::wstring log = testing::LogPath(program.path(), L"ComprobadorOrvane_log.csv");
  const std::string before = StampNow();
  AppendCheckinLog(program.path(), "ABIERTO - JSON enviado y respuesta recibida");
  const std::string after = StampNow();
  EXPECT_EQ(Attributes(log) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM),
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM));
  AppendCheckinLog(program.path(), "segunda");
  EXPECT_EQ(Attributes(log) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM),
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM));
  auto lines = testing::LogLines(log);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(std::regex_match(lines[0].substr(0, 20), kStampedLine));
  // Stamped by the same clock as the other logs (the C runtime's 32-bit one stops in 2038).
  EXPECT_LE(before, lines[0].substr(0, 19));
  EXPECT_LE(lines[0].substr(0, 19), after);
  EXPECT_EQ(lines[0].substr(20), "ABIERTO - JSON enviado y respuesta recibida");
  EXPECT_EQ(lines[1].substr(20), "segunda");
}

TEST(EnsureDirectoryTreeTest, CreatesChainsAndReportsWhatExists) {
  TempFolder root;
  EXPECT_TRUE(EnsureDirectoryTree(root.path()));
  EXPECT_TRUE(EnsureDirectoryTree(root / L"a\\b\\c"));
  EXPECT_TRUE(testing::IsDirectory(root / L"a\\b\\c"));
  EXPECT_TRUE(EnsureDirectoryTree(root / L"a\\b"));
  ASSERT_TRUE(testing::WriteBytes(root / L"archivo", "x"));
  EXPECT_FALSE(EnsureDirectoryTree(root / L"archivo"));          // a file is in the way
  EXPECT_FALSE(EnsureDirectoryTree(root / L"archivo\\debajo\\x"));
}

}  // namespace
}  // namespace brivon
