#include <windows.h>

#include <gtest/gtest.h>

#include "support/powershell_standin_parse.h"
#include "update/archive_time_stamp.h"
#include "update/powershell_command.h"

namespace brivon {
namespace {

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

TEST(PowerShellCommandTest, PowerShellLivesUnderTheWindowsFolder) {
  EXPECT_EQ(PowerShellPath(L"C:\\Windows"), L"C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\powershell.exe");

  wchar_t saved[MAX_PATH] = {};
  ::GetEnvironmentVariableW(L"SystemRoot", saved, MAX_PATH);
  ::SetEnvironmentVariableW(L"SystemRoot", L"D:\\Sistema");
  EXPECT_EQ(PowerShellPathFromEnvironment(), L"D:\\Sistema\\System32\\WindowsPowerShell\\v1.0\\powershell.exe");
  ::SetEnvironmentVariableW(L"SystemRoot", nullptr);  // unset: the system's own Windows folder
  wchar_t windows[MAX_PATH] = {};
  ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
  EXPECT_EQ(PowerShellPathFromEnvironment(), PowerShellPath(windows));
  ::SetEnvironmentVariableW(L"SystemRoot", saved);
}

TEST(PowerShellCommandTest, WorkedExamplesGiveTheseExactLines) {
  const std::wstring ps = L"C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\powershell.exe";
  EXPECT_EQ(FolderArchiveCommandLine(ps, L"C:\\App\\actualizaciones\\251206_093015",
                                     L"C:\\App\\actualizaciones\\251206_093015.zip"),
            L"\"" + ps +
                L"\" -NoProfile -NonInteractive -Command Compress-Archive -Path "
                L"\"'C:\\App\\actualizaciones\\251206_093015\\*'\" -DestinationPath "
                L"\"'C:\\App\\actualizaciones\\251206_093015.zip'\" -Force");
  EXPECT_EQ(FileArchiveCommandLine(ps, L"C:\\App\\versiones\\251206_093015_brivon.exe",
                                   L"C:\\App\\versiones\\251206_093015_brivon.zip"),
            L"\"" + ps +
                L"\" -NoProfile -NonInteractive -Command Compress-Archive -LiteralPath "
                L"\"'C:\\App\\versiones\\251206_093015_brivon.exe'\" -DestinationPath "
                L"\"'C:\\App\\versiones\\251206_093015_brivon.zip'\" -Force");
  EXPECT_EQ(LeftoverFolderArchiveCommandLine(ps, L"C:\\Program Files\\App\\actualizaciones\\251206_093015",
                                             L"C:\\Program Files\\App\\actualizaciones\\251206_093015.zip"),
            L"\"" + ps + L"\" -NoProfile -ExecutionPolicy Bypass -Command \"Compress-Archive -Path "
            L"'C:\\Program Files\\App\\actualizaciones\\251206_093015\\*' -DestinationPath "
            L"'C:\\Program Files\\App\\actualizaciones\\251206_093015.zip' -Force\"");
  // Characters PowerShell would read: quote doubled, wildcards escaped only where they are wildcards.
  EXPECT_EQ(FolderArchiveCommandLine(ps, L"C:\\O'Neil [1]", L"C:\\O'Neil [1].zip"),
            L"\"" + ps +
                L"\" -NoProfile -NonInteractive -Command Compress-Archive -Path \"'C:\\O''Neil `[1`]\\*'\" "
                L"-DestinationPath \"'C:\\O''Neil [1].zip'\" -Force");
}

TEST(PowerShellCommandTest, QuotingPieces) {
  struct Case {
    const wchar_t* text;
    const wchar_t* literal;
    const wchar_t* escaped;
    const wchar_t* word;
  } cases[] = {
      {L"C:\\a b", L"'C:\\a b'", L"C:\\a b", L"\"C:\\a b\""},
      {L"it's", L"'it''s'", L"it's", L"\"it's\""},
      {L"it\x2019s", L"'it\x2019\x2019s'", L"it\x2019s", L"\"it\x2019s\""},
      {L"$x`y", L"'$x`y'", L"$x``y", L"\"$x`y\""},
      {L"[a]*?", L"'[a]*?'", L"`[a`]`*`?", L"\"[a]*?\""},
      {L"tail\\", L"'tail\\'", L"tail\\", L"\"tail\\\\\""},
      {L"a\"b\\\"c", L"'a\"b\\\"c'", L"a\"b\\\"c", L"\"a\\\"b\\\\\\\"c\""},
      {L"", L"''", L"", L"\"\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PowerShellLiteral(c.text), c.literal) << c.text;
    EXPECT_EQ(EscapeWildcards(c.text), c.escaped) << c.text;
    EXPECT_EQ(QuoteCommandLineWord(c.text), c.word) << c.text;
    auto words = testing::SplitCommandLine(L"x " + QuoteCommandLineWord(c.text));
    ASSERT_EQ(words.size(), 2u) << c.text;
    EXPECT_EQ(words[1], c.text);
  }
}

// Every path reaches Compress-Archive whole: read back by the same rules powershell.exe and
// PowerShell apply (the stand-in's reader), each command gives the cmdlet exactly the paths it was built from.
TEST(PowerShellCommandTest, EveryPathReachesCompressArchiveWhole) {
  const wchar_t* folders[] = {
      L"C:\\Program Files\\App\\actualizaciones\\251206_093015",
      L"C:\\Two  spaces\\ and   more",
      L"C:\\O'Neil's \x2018" L"App\x2019",
      L"C:\\$env:windir\\$(calc)\\${x}\\$",
      L"C:\\back`tick\\``\\tail`",
      L"C:\\brackets [1]\\x[a-z]y\\]\\[",
      L"C:\\Programa Contabilidad\\Espa\x00f1" L"a \x65e5\x672c",
      L"C:\\semi;colon\\a&b\\(p)\\{c}\\@at,comma\\%PATH%",
      L"C:\\quotes \x201c" L"x\x201d" L"\\end",
  };
  for (const wchar_t* folder : folders) {
    std::wstring archive = std::wstring(folder) + L".zip";
    struct Line {
      std::wstring text;
      bool literal;
      std::wstring path;
    } lines[] = {
        {FolderArchiveCommandLine(L"C:\\W\\powershell.exe", folder, archive), false, std::wstring(folder) + L"\\*"},
        {FileArchiveCommandLine(L"C:\\W\\powershell.exe", std::wstring(folder) + L"\\a.exe", archive), true,
         std::wstring(folder) + L"\\a.exe"},
        {LeftoverFolderArchiveCommandLine(L"C:\\W\\powershell.exe", folder, archive), false, std::wstring(folder) + L"\\*"},
    };
    for (const auto& line : lines) {
      auto words = testing::SplitCommandLine(line.text);
      ASSERT_FALSE(words.empty());
      words.erase(words.begin());
      std::wstring command, why;
      ASSERT_TRUE(testing::ReadPowerShellSwitches(words, &command, &why)) << line.text << " " << why;
      testing::CompressArchiveCall call;
      ASSERT_TRUE(testing::ParseCompressArchive(command, &call, &why)) << line.text << " " << why;
      EXPECT_EQ(call.literalPath, line.literal) << line.text;
      EXPECT_TRUE(call.force) << line.text;
      EXPECT_EQ(call.destination, archive) << line.text;
      if (line.literal) {
        EXPECT_EQ(call.path, line.path) << line.text;
      } else {
        // The folder matches only itself; the last level is the one wildcard.
        std::wstring pattern = call.path.substr(0, call.path.size() - 2);
        EXPECT_EQ(call.path.substr(call.path.size() - 2), L"\\*") << line.text;
        EXPECT_FALSE(testing::HasWildcard(pattern)) << line.text;
        EXPECT_EQ(testing::RemoveWildcardEscapes(pattern), folder) << line.text;
      }
    }
  }
}

}  // namespace
}  // namespace brivon
