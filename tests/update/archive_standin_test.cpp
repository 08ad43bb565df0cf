// The PowerShell stand-in reads its command line as powershell.exe and PowerShell would, and
// refuses what it does not understand; run for real, it writes a ZIP archive as Compress-Archive does.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "support/powershell_standin.h"
#include "support/powershell_standin_parse.h"
#include "support/test_env.h"
#include "update/child_process.h"

namespace brivon {
namespace {

using testing::TempFolder;

TEST(PowerShellStandInTest, SplitsCommandLinesAsTheCRuntimeDoes) {
  struct Case {
    const wchar_t* line;
    std::vector<std::wstring> words;
  } cases[] = {
      {L"a b  c", {L"a", L"b", L"c"}},
      {L"\"a b\" c", {L"a b", L"c"}},
      {L"a\\\"b", {L"a\"b"}},
      {L"\"a\\\\\" b", {L"a\\", L"b"}},
      {L"a\\\\b", {L"a\\\\b"}},
      {L"\\\"Compress\\\"", {L"\"Compress\""}},
      {L"\"a\"\"b\"", {L"a\"b"}},
      {L"x\"y z\"w", {L"xy zw"}},
      {L"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(testing::SplitCommandLine(c.line), c.words) << c.line;
}

TEST(PowerShellStandInTest, ReadsOnlyTheSwitchesTheProgramUses) {
  struct Case {
    std::vector<std::wstring> words;
    bool ok;
    const wchar_t* command;
  } cases[] = {
      {{L"-NoProfile", L"-NonInteractive", L"-Command", L"Compress-Archive", L"-Force"}, true,
       L"Compress-Archive -Force"},
      {{L"-noprofile", L"-ExecutionPolicy", L"Bypass", L"-Command", L"a  b", L"c"}, true, L"a  b c"},
      // "Get" as UTF-16LE in base64
      {{L"-NoProfile", L"-EncodedCommand", L"RwBlAHQA"}, true, L"Get"},
      {{L"-NoProfile", L"-EncodedCommand", L"RwBlAHQ"}, false, L""},
      {{L"-NoProfile", L"-EncodedCommand", L"RwBlAHQA", L"extra"}, false, L""},
      {{L"-NoProfile", L"-File", L"x.ps1"}, false, L""},
      {{L"-NoProfile", L"-ExecutionPolicy", L"Lax", L"-Command", L"x"}, false, L""},
      {{L"-NoProfile", L"-Command"}, false, L""},
      {{L"-NoProfile"}, false, L""},
  };
  for (const auto& c : cases) {
    std::wstring command, why;
    EXPECT_EQ(testing::ReadPowerShellSwitches(c.words, &command, &why), c.ok) << c.words.back();
    if (c.ok) {
      EXPECT_EQ(command, c.command);
    }
  }
}

TEST(PowerShellStandInTest, ParsesCompressArchiveAsPowerShellWould) {
  struct Case {
    const wchar_t* command;
    bool literal;
    const wchar_t* path;
    const wchar_t* destination;
    bool force;
  } cases[] = {
      {L"Compress-Archive -Path C:\\a\\* -DestinationPath C:\\a.zip -Force", false, L"C:\\a\\*", L"C:\\a.zip", true},
      {L"compress-archive -literalpath 'C:\\it''s' -destinationpath \"C:\\b c.zip\"", true, L"C:\\it's",
       L"C:\\b c.zip", false},
      {L"Compress-Archive -LiteralPath \"C:\\a`$b\" -DestinationPath \"C:\\x\"\"y.zip\"", true, L"C:\\a$b",
       L"C:\\x\"y.zip", false},
      {L"Compress-Archive -Path 'C:\\$x' -DestinationPath 'a\x2019\x2019" L"b.zip'", false, L"C:\\$x",
       L"a\x2019" L"b.zip", false},
  };
  for (const auto& c : cases) {
    testing::CompressArchiveCall call;
    std::wstring why;
    ASSERT_TRUE(testing::ParseCompressArchive(c.command, &call, &why)) << c.command << " " << why;
    EXPECT_EQ(call.literalPath, c.literal) << c.command;
    EXPECT_EQ(call.path, c.path) << c.command;
    EXPECT_EQ(call.destination, c.destination) << c.command;
    EXPECT_EQ(call.force, c.force) << c.command;
  }
}

TEST(PowerShellStandInTest, RefusesCommandsThatWouldDoMoreThanReadText) {
  const wchar_t* refused[] = {
      // The plain double quotes a folder with spaces loses to powershell.exe: a stray value.
      L"Compress-Archive -Path C:\\Program Files\\App\\* -DestinationPath C:\\x.zip -Force",
      L"Compress-Archive -Path \"C:\\$env:windir\\*\" -DestinationPath C:\\x.zip",
      L"Compress-Archive -Path \"C:\\$(calc)\\*\" -DestinationPath C:\\x.zip",
      L"Compress-Archive -Path C:\\$x\\* -DestinationPath C:\\x.zip",
      L"Compress-Archive -Path 'a' -DestinationPath 'b.zip'; Remove-Item C:\\",
      L"Compress-Archive -Path a,b -DestinationPath b.zip",
      L"Compress-Archive -Path 'a -DestinationPath b.zip",
      L"Compress-Archive -Path 'a'b -DestinationPath b.zip",
      L"Compress-Archive a b.zip",
      L"Compress-Archive -Path a -LiteralPath a -DestinationPath b.zip",
      L"Compress-Archive -Path a -DestinationPath -Force",
      L"Compress-Archive -Path a",
      L"Compress-Archive -Path a -DestinationPath b.zip -Update",
      L"Expand-Archive -Path a -DestinationPath b",
  };
  for (const wchar_t* command : refused) {
    testing::CompressArchiveCall call;
    std::wstring why;
    EXPECT_FALSE(testing::ParseCompressArchive(command, &call, &why)) << command;
  }
}

TEST(PowerShellStandInTest, MatchesWildcardsWithEscapes) {
  struct Case {
    const wchar_t* pattern;
    const wchar_t* name;
    bool match;
  } cases[] = {
      {L"*", L"anything.txt", true},      {L"*.MDB", L"datos.mdb", true},  {L"a?c", L"abc", true},
      {L"a?c", L"ac", false},             {L"[ab]x", L"bx", true},         {L"[a-c]x", L"dx", false},
      {L"`[1`]", L"[1]", true},           {L"`[1`]", L"1", false},         {L"[1]", L"1", true},
      {L"a`*", L"a*", true},              {L"a`*", L"ab", false},          {L"``", L"`", true},
  };
  for (const auto& c : cases) EXPECT_EQ(testing::MatchesWildcard(c.pattern, c.name), c.match) << c.pattern;
}

class PowerShellStandInRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::InstallPowerShellStandIn());
    ASSERT_TRUE(::CreateDirectoryW(source_.c_str(), nullptr));
    ASSERT_TRUE(testing::WriteBytes(source_ + L"\\uno.txt", "uno"));
  }
  unsigned long Run(const std::wstring& arguments) {
    unsigned long code = 99;
    EXPECT_TRUE(RunHiddenProcess(L"\"" + testing::SystemPowerShellPath() + L"\" " + arguments, &code, 60000));
    return code;
  }
  TempFolder folder_;
  std::wstring source_ = folder_ / L"datos";
};

TEST_F(PowerShellStandInRunTest, RefusesWhatCompressArchiveRefuses) {
  std::wstring zip = folder_ / L"datos.zip";
  ASSERT_TRUE(testing::WriteBytes(zip, "earlier"));
  struct Case {
    const char* name;
    std::wstring arguments;
    unsigned long code;
  } cases[] = {
      {"not .zip", L"-NoProfile -Command Compress-Archive -Path '" + source_ + L"\\*' -DestinationPath '" +
                       folder_.path() + L"\\datos.7z' -Force", 1},
      {"exists, no -Force", L"-NoProfile -Command Compress-Archive -Path '" + source_ + L"\\*' -DestinationPath '" +
                                zip + L"'", 1},
      {"nothing matches", L"-NoProfile -Command Compress-Archive -Path '" + source_ + L"\\*.none' -DestinationPath '" +
                              zip + L"' -Force", 1},
      {"unknown switch", L"-NoLogo -Command Compress-Archive -Path '" + source_ + L"\\*' -DestinationPath '" + zip +
                             L"' -Force", 64},
      {"unquoted spaces", L"-NoProfile -Command Compress-Archive -Path " + source_ + L" x\\* -DestinationPath " + zip +
                              L" -Force", 64},
      {"a hidden item named itself", L"-NoProfile -Command Compress-Archive -LiteralPath '" + source_ +
                                         L"\\oculto.txt' -DestinationPath '" + zip + L"' -Force", 1},
  };
  ASSERT_TRUE(testing::WriteBytes(source_ + L"\\oculto.txt", "oculto"));
  ASSERT_TRUE(::SetFileAttributesW((source_ + L"\\oculto.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
  for (const auto& c : cases) {
    EXPECT_EQ(Run(c.arguments), c.code) << c.name;
    EXPECT_EQ(testing::ReadBytes(zip), "earlier") << c.name;
    EXPECT_FALSE(testing::Exists(folder_ / L"datos.7z")) << c.name;
  }
}

TEST_F(PowerShellStandInRunTest, ForceReplacesAnArchiveAndEncodedCommandsWork) {
  std::wstring zip = folder_ / L"datos.zip";
  ASSERT_TRUE(testing::WriteBytes(zip, "earlier"));
  std::wstring command = L"Compress-Archive -Path '" + source_ + L"\\*' -DestinationPath '" + zip + L"' -Force";
  // Base64 of the UTF-16LE command, as -EncodedCommand takes it.
  std::string bytes;
  for (wchar_t c : command) bytes += static_cast<char>(c & 0xFF), bytes += static_cast<char>(c >> 8);
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::wstring encoded;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    unsigned n = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 2]);
    encoded += kAlphabet[(n >> 18) & 63];
    encoded += kAlphabet[(n >> 12) & 63];
    encoded += i + 1 < bytes.size() ? kAlphabet[(n >> 6) & 63] : '=';
    encoded += i + 2 < bytes.size() ? kAlphabet[n & 63] : '=';
  }
  EXPECT_EQ(Run(L"-NoProfile -NonInteractive -EncodedCommand " + encoded), 0u);
  EXPECT_EQ(testing::ListArchive(zip), std::vector<std::wstring>{L"uno.txt"});
}

// As Windows PowerShell 5.1's cmdlet, still ending with 0: a folder's hidden files and folders are
// left out at every depth.
TEST_F(PowerShellStandInRunTest, LeavesHiddenFilesAndFoldersOut) {
  const std::wstring hiddenFolder = source_ + L"\\oculta";
  const std::wstring sub = source_ + L"\\sub";
  ASSERT_TRUE(::CreateDirectoryW(hiddenFolder.c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW(sub.c_str(), nullptr));
  ASSERT_TRUE(testing::WriteBytes(hiddenFolder + L"\\dentro.txt", "x"));
  ASSERT_TRUE(testing::WriteBytes(sub + L"\\visible.txt", "x"));
  ASSERT_TRUE(testing::WriteBytes(sub + L"\\oculto.MDB", "x"));
  ASSERT_TRUE(testing::WriteBytes(source_ + L"\\oculto.txt", "x"));
  for (const std::wstring& path : {hiddenFolder, sub + L"\\oculto.MDB", source_ + L"\\oculto.txt"}) {
    ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN));
  }
  const std::wstring zip = folder_ / L"datos.zip";
  EXPECT_EQ(Run(L"-NoProfile -Command Compress-Archive -Path '" + source_ + L"\\*' -DestinationPath '" + zip + L"'"),
            0u);
  std::vector<std::wstring> listing = testing::ListArchive(zip);
  std::sort(listing.begin(), listing.end());
  EXPECT_EQ(listing, (std::vector<std::wstring>{L"sub", L"sub\\visible.txt", L"uno.txt"}));
}

}  // namespace
}  // namespace brivon
