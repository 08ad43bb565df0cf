// The real brivon.exe in a temporary program folder, against the loopback server that the test
// build's built-in addresses point at.
#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "common/text.h"
#include "files/folder_lock.h"
#include "servers/loopback_http_server.h"
#include "sevenzip/tool_fetch.h"
#include "support/archive_reading.h"
#include "support/log_lines.h"
#include "support/program_run.h"
#include "support/test_env.h"

namespace brivon {
namespace {

using testing::HttpReply;
using testing::LoopbackHttpServer;
using testing::ProgramRun;
using testing::TempFolder;

constexpr char kToolPath[] = "/parches/7za.exe";

std::vector<testing::SeenMessageBox> BoxesTitled(const ProgramRun& run, const std::wstring& title) {
  std::vector<testing::SeenMessageBox> found;
  for (const auto& box : run.boxes)
    if (box.title == title) found.push_back(box);
  return found;
}

class StartupEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tool_ = testing::ReadBytes(testing::ArchiveToolPath());
    ASSERT_FALSE(tool_.empty());
    exe_ = testing::InstallBrivon(folder_.path());
  }
  bool StartServer() { return server_.Start(); }

  std::string tool_;
  LoopbackHttpServer server_{testing::BuiltInPort()};
  TempFolder folder_;
  std::wstring exe_;
  std::wstring toolPath_ = folder_ / L"7za.exe";
};

TEST_F(StartupEndToEndTest, PresentToolIsNotFetched) {
  ASSERT_TRUE(StartServer());
  ASSERT_TRUE(testing::WriteBytes(toolPath_, tool_));
  ProgramRun run = testing::RunProgram(exe_);
  ASSERT_TRUE(run.started);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(BoxesTitled(run, kArchiveToolErrorTitle).empty());
  EXPECT_EQ(server_.CountRequests(kToolPath), 0u);
  EXPECT_EQ(testing::ReadBytes(toolPath_), tool_);
}

// A present tool that is no whole Windows image is fetched again: an error page, an empty file, a
// copy cut short that keeps its "MZ" and its headers. Its leftover folders are then archived, not
// struck off for the damaged tool's failures (three strikes an older program counted included).
TEST_F(StartupEndToEndTest, MissingOrDamagedToolIsDownloadedByteForByte) {
  ASSERT_TRUE(StartServer());
  HttpReply reply;
  reply.body = tool_;
  server_.Serve(kToolPath, reply);
  struct Row {
    const char* name;
    bool present;
    std::string before;
    bool leftover;  // a leftover folder with three strikes beside it
  } rows[] = {
      {"missing", false, "", false},
      {"an error page", true, "<html>error page</html>", false},
      {"empty", true, "", false},
      {"cut to 60 %, with a struck leftover folder", true, tool_.substr(0, tool_.size() * 6 / 10), true},
  };
  const std::wstring updates = folder_ / L"actualizaciones";
  const std::wstring leftover = updates + L"\\251206_093015";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.present) {
      ASSERT_TRUE(testing::WriteBytes(toolPath_, row.before));
    }
    if (row.leftover) {
      ASSERT_TRUE(::CreateDirectoryW(updates.c_str(), nullptr));
      ASSERT_TRUE(::CreateDirectoryW(leftover.c_str(), nullptr));
      ASSERT_TRUE(testing::WriteBytes(leftover + L"\\FacturaOrva.exe", "MZ old version"));
      ASSERT_TRUE(testing::WriteBytes(leftover + L"\\DATOS.MDB", "data"));
      ASSERT_TRUE(testing::WriteBytes(leftover + L".intentos", "3"));
    }
    ProgramRun run = testing::RunProgram(exe_);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(BoxesTitled(run, kArchiveToolErrorTitle).empty());
    EXPECT_TRUE(testing::ReadBytes(toolPath_) == tool_);  // not the megabytes of a difference
    if (row.leftover) {
      EXPECT_FALSE(testing::Exists(leftover));
      EXPECT_FALSE(testing::Exists(leftover + L".intentos"));
      std::vector<std::wstring> archived = testing::ListArchive(leftover + L".zip");
      std::sort(archived.begin(), archived.end());
      EXPECT_EQ(archived, (std::vector<std::wstring>{L"DATOS.MDB", L"FacturaOrva.exe"}));
      EXPECT_EQ(testing::LogTexts(folder_.path(), L"descargas.csv"), std::vector<std::string>{});
    }
    ::DeleteFileW(toolPath_.c_str());
  }
  EXPECT_EQ(server_.CountRequests(kToolPath), 4u);
}

// A release built with a pin keeps only the pinned tool; any other is gone and the box says 577.
// (The test build, without a pin, keeps any tool: the test above.)
TEST_F(StartupEndToEndTest, APinnedProgramKeepsOnlyThePinnedTool) {
  ASSERT_TRUE(StartServer());
  HttpReply reply;
  reply.body = tool_;
  server_.Serve(kToolPath, reply);
  struct Case {
    const wchar_t* program;
    bool kept;
    bool withoutLength = false;  // the pin alone proves the tool whole
  } cases[] = {{L"brivon_pinned_to_the_tool.exe", true},
               {L"brivon_pinned_elsewhere.exe", false},
               {L"brivon_pinned_to_the_tool.exe", true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(NarrowLow8(c.program) + (c.withoutLength ? ", without a length" : ""));
    reply.sendContentLength = !c.withoutLength;
    server_.Serve(kToolPath, reply);
    ASSERT_TRUE(::CopyFileW(testing::TestToolPath(c.program).c_str(), exe_.c_str(), FALSE));
    ProgramRun run = testing::RunProgram(exe_);
    EXPECT_EQ(run.exitCode, 0u);
    auto boxes = BoxesTitled(run, kArchiveToolErrorTitle);
    EXPECT_EQ(boxes.size(), c.kept ? 0u : 1u);
    if (!boxes.empty()) {
      EXPECT_EQ(boxes[0].text, ArchiveToolFailureText(kArchiveToolUrl, kArchiveToolNotPinned));
    }
    EXPECT_EQ(testing::Exists(toolPath_), c.kept);
    EXPECT_FALSE(testing::Exists(toolPath_ + L".parcial"));
    ::DeleteFileW(toolPath_.c_str());
  }
}

TEST_F(StartupEndToEndTest, FailedDownloadsShowTheErrorBoxAndLeaveNoTool) {
  HttpReply notFound;
  notFound.status = 404;
  notFound.body = "<html>404</html>";
  HttpReply whole;
  whole.body = tool_;
  HttpReply cut;
  cut.body = tool_;
  cut.cutAfter = static_cast<int64_t>(tool_.size() / 2);
  HttpReply hangUp;
  hangUp.closeWithoutAnswer = true;
  // What a page or a cut body would leave as 7za.exe never takes its name, nor does a tool whose
  // end nothing proves (sent without a length, closed cleanly wherever it stopped).
  HttpReply page{200, "<html><body>Sitio bloqueado</body></html>", "text/html"};
  HttpReply unannounced = whole;
  unannounced.sendContentLength = false;
  HttpReply unannouncedCut = unannounced;
  unannouncedCut.cutAfter = static_cast<int64_t>(tool_.size() * 6 / 10);
  HttpReply trickle = whole;  // a byte now and then after the first 64 KiB: never silent, never done
  trickle.trickleAfter = 64 * 1024;
  trickle.trickleDelayMs = 1500;
  struct Case {
    const char* name;
    bool serverUp;
    HttpReply reply;
    bool directoryInTheWay;
    unsigned long code;
    bool shortFileLimits = false;  // the test build's stall window and headers' deadline, 3 s
  } cases[] = {
      {"404", true, notFound, false, 404},
      {"cut body", true, cut, false, ERROR_INTERNET_CONNECTION_ABORTED},
      {"closed without an answer", true, hangUp, false, ERROR_HTTP_INVALID_SERVER_RESPONSE},
      {"directory named 7za.exe", true, whole, true, ERROR_ACCESS_DENIED},
      {"unreachable", false, HttpReply{}, false, ERROR_INTERNET_CANNOT_CONNECT},
      {"a page with status 200", true, page, false, kArchiveToolNotWholeImage},
      {"the tool without a length", true, unannounced, false, kArchiveToolEndUnproven},
      {"60 % of the tool without a length", true, unannouncedCut, false, kArchiveToolNotWholeImage},
      {"the tool trickling after its first 64 KiB", true, trickle, false, ERROR_INTERNET_TIMEOUT, true},
  };
  // The directory never gives way: the test build waits for it less long.
  testing::ScopedVariable shortWait(L"BRIVON_TEST_FILE_WAIT_MS", L"300");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.serverUp) {
      ASSERT_TRUE(StartServer());
      server_.Serve(kToolPath, c.reply);
    }
    if (c.directoryInTheWay) {
      ASSERT_TRUE(::CreateDirectoryW(toolPath_.c_str(), nullptr));
    }

    testing::ScopedVariable stallWindow(L"BRIVON_TEST_STALL_WINDOW_MS", c.shortFileLimits ? L"3000" : L"");
    testing::ScopedVariable headersDeadline(L"BRIVON_TEST_FILE_HEADERS_DEADLINE_MS", c.shortFileLimits ? L"3000" : L"");
    ProgramRun run = testing::RunProgram(exe_);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(testing::Exists(FolderLockPath(folder_.path())));  // the next start finds the folder free
    auto boxes = BoxesTitled(run, kArchiveToolErrorTitle);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, ArchiveToolFailureText(kArchiveToolUrl, c.code));
    if (c.directoryInTheWay) {
      EXPECT_TRUE(testing::IsDirectory(toolPath_));
      ::RemoveDirectoryW(toolPath_.c_str());
    }
    EXPECT_FALSE(testing::Exists(toolPath_));
    EXPECT_FALSE(testing::Exists(toolPath_ + L".parcial"));
    server_.Stop();
  }
}

}  // namespace
}  // namespace brivon
