#include "sevenzip/tool_fetch.h"

#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <cwctype>

#include "servers/loopback_http_server.h"
#include "support/test_env.h"

namespace brivon {
namespace {

using testing::HttpReply;
using testing::LoopbackHttpServer;
using testing::TempFolder;

// A present tool is kept only when it is a whole Windows image, and with a pin the pinned one; a
// copy cut short keeps its "MZ" and its headers, and the system refuses to start it.
TEST(ArchiveToolTest, OnlyAWholeImageCountsAsTheTool) {
  const std::string tool = testing::ReadBytes(testing::ArchiveToolPath());
  ASSERT_GT(tool.size(), 100000u);
  std::string flipped = tool;
  flipped[tool.size() / 2] = static_cast<char>(flipped[tool.size() / 2] ^ 0x55);
  struct Case {
    const char* name;
    std::string bytes;
    std::wstring pin;
    bool usable;
  } cases[] = {
      {"the tool", tool, L"", true},
      {"the tool with something after its image", tool + std::string(5000, 'x'), L"", true},
      {"the tool, pinned", tool, BRIVON_TEST_7ZA_SHA256, true},
      {"the tool, pinned to another", tool, std::wstring(64, L'0'), false},
      {"one byte changed", flipped, L"", true},  // whole all the same: only a pin tells
      {"one byte changed, pinned", flipped, BRIVON_TEST_7ZA_SHA256, false},
      {"cut to 60 %", tool.substr(0, tool.size() * 6 / 10), L"", false},
      {"one byte short", tool.substr(0, tool.size() - 1), L"", false},
      {"its headers alone", tool.substr(0, 1024), L"", false},
      {"MZ and no more", "MZ", L"", false},
      {"an error page", "<html>error</html>", L"", false},
      {"empty", "", L"", false},
  };
  TempFolder folder;
  const std::wstring path = folder / L"7za.exe";
  for (const auto& c : cases) {
    ASSERT_TRUE(testing::WriteBytes(path, c.bytes));
    EXPECT_EQ(IsUsableArchiveTool(path, c.pin), c.usable) << c.name;
  }
  ::DeleteFileW(path.c_str());
  EXPECT_FALSE(IsUsableArchiveTool(path, L"")) << "missing";
}

TEST(ArchiveToolTest, FailureTextNamesTheUrlAndTheCode) {
  EXPECT_EQ(ArchiveToolFailureText(L"https://h.example.com/parches/7za.exe", 12029),
            L"No se pudo descargar 7za.exe desde:\nhttps://h.example.com/parches/7za.exe\n\nError: 12029");
}

class ArchiveToolDownloadTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()); }
  LoopbackHttpServer server_;
  TempFolder folder_;
  std::wstring target_ = folder_ / L"7za.exe";
};

TEST_F(ArchiveToolDownloadTest, StoresACompleteBodyByteForByte) {
  std::string tool = testing::ReadBytes(testing::ArchiveToolPath());
  ASSERT_GT(tool.size(), 100000u);
  HttpReply reply;
  reply.body = tool;
  server_.Serve("/parches/7za.exe", reply);
  unsigned long error = 99;
  EXPECT_TRUE(DownloadArchiveTool(target_, &error, server_.Url("/parches/7za.exe")));
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(testing::ReadBytes(target_), tool);
  ASSERT_EQ(server_.Requests().size(), 1u);
  EXPECT_EQ(server_.Requests()[0].Header("User-Agent"), "Brivon-Downloader");
}

// A tool takes its name only as the next start would keep it, and only once known whole.
TEST_F(ArchiveToolDownloadTest, FailedTransfersLeaveNoFileAndReportTheirCode) {
  const std::string tool = testing::ReadBytes(testing::ArchiveToolPath());
  ASSERT_GT(tool.size(), 100000u);
  HttpReply notFound;
  notFound.status = 404;
  notFound.body = "<html>no</html>";
  HttpReply serverError;
  serverError.status = 500;
  serverError.body = "MZ but an error page";
  HttpReply cut;
  cut.body = std::string(200000, 'M');
  cut.cutAfter = 70000;
  HttpReply hangUp;
  hangUp.closeWithoutAnswer = true;
  HttpReply page;  // a filter's or a soft 404's page
  page.body = "<html>No encontrado</html>";
  page.contentType = "text/html";
  HttpReply partialContent;
  partialContent.status = 206;
  partialContent.body = tool;
  HttpReply unannounced;
  unannounced.body = tool;
  unannounced.sendContentLength = false;
  HttpReply unannouncedCut = unannounced;  // closed cleanly at 60 %: reads as the end
  unannouncedCut.cutAfter = static_cast<int64_t>(tool.size() * 6 / 10);
  struct Case {
    const char* name;
    HttpReply reply;
    unsigned long code;
  } cases[] = {
      {"404", notFound, 404},
      {"500", serverError, 500},
      {"cut", cut, ERROR_INTERNET_CONNECTION_ABORTED},
      {"closed without an answer", hangUp, ERROR_HTTP_INVALID_SERVER_RESPONSE},
      {"a page with status 200", page, kArchiveToolNotWholeImage},
      {"an empty body", HttpReply{}, kArchiveToolNotWholeImage},
      {"part of the tool, status 206", partialContent, 206},
      {"the tool without a length", unannounced, kArchiveToolEndUnproven},
      {"60 % of the tool without a length", unannouncedCut, kArchiveToolNotWholeImage},
  };
  for (const auto& c : cases) {
    server_.Serve("/t", c.reply);
    ASSERT_TRUE(testing::WriteBytes(target_, "damaged"));  // what is there goes as well
    unsigned long error = 0;
    EXPECT_FALSE(DownloadArchiveTool(target_, &error, server_.Url("/t"))) << c.name;
    EXPECT_EQ(error, c.code) << c.name;
    EXPECT_FALSE(testing::Exists(target_)) << c.name;
    EXPECT_FALSE(testing::Exists(target_ + L".parcial")) << c.name;
  }
}

// With a pin, only the pinned tool takes the name: anything else is gone with the code 577.
TEST_F(ArchiveToolDownloadTest, APinnedDownloadKeepsOnlyThePinnedTool) {
  std::string tool = testing::ReadBytes(testing::ArchiveToolPath());
  std::wstring upper = BRIVON_TEST_7ZA_SHA256;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(c));
  std::wstring other = BRIVON_TEST_7ZA_SHA256;
  other[0] = other[0] == L'0' ? L'1' : L'0';
  struct Case {
    const char* name;
    std::string served;
    std::wstring pin;
    bool kept;
    bool withoutLength = false;  // the pin alone proves it whole
  } cases[] = {
      {"no pin", tool, L"", true},
      {"the pinned tool", tool, BRIVON_TEST_7ZA_SHA256, true},
      {"the pinned tool without a length", tool, BRIVON_TEST_7ZA_SHA256, true, true},
      {"the pin in capitals", tool, upper, true},
      {"another tool", tool, other, false},
      {"a tool with one byte changed", tool.substr(0, tool.size() - 1) + "X", BRIVON_TEST_7ZA_SHA256, false},
  };
  for (const auto& c : cases) {
    HttpReply reply;
    reply.body = c.served;
    reply.sendContentLength = !c.withoutLength;
    server_.Serve("/t", reply);
    unsigned long error = 0;
    EXPECT_EQ(DownloadArchiveTool(target_, &error, server_.Url("/t"), c.pin), c.kept) << c.name;
    EXPECT_EQ(error, c.kept ? 0u : kArchiveToolNotPinned) << c.name;
    EXPECT_EQ(testing::Exists(target_), c.kept) << c.name;
    EXPECT_FALSE(testing::Exists(target_ + L".parcial")) << c.name;
    ::DeleteFileW(target_.c_str());
  }
}

TEST_F(ArchiveToolDownloadTest, RefusedConnectionCreatesNothing) {
  uint16_t port = server_.port();
  server_.Stop();
  unsigned long error = 0;
  EXPECT_FALSE(DownloadArchiveTool(target_, &error,
                                   L"http://127.0.0.1:" + std::to_wstring(port) + L"/parches/7za.exe"));
  EXPECT_EQ(error, static_cast<unsigned long>(ERROR_INTERNET_CANNOT_CONNECT));
  EXPECT_FALSE(testing::Exists(target_));
}

}  // namespace
}  // namespace brivon
