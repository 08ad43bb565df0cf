// The real brivon.exe in a temporary program folder, against the loopback server that the test
// build's built-in addresses point at.
#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include "common/text.h"
#include "servers/loopback_http_server.h"
#include "startup/archive_tool.h"
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

TEST_F(StartupEndToEndTest, MissingOrDamagedToolIsDownloadedByteForByte) {
  ASSERT_TRUE(StartServer());
  HttpReply reply;
  reply.body = tool_;
  server_.Serve(kToolPath, reply);
  // Missing, holding an error page, empty.
  for (const char* before : std::initializer_list<const char*>{nullptr, "<html>error page</html>", ""}) {
    if (before) {
      ASSERT_TRUE(testing::WriteBytes(toolPath_, before));
    }
    ProgramRun run = testing::RunProgram(exe_);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(BoxesTitled(run, kArchiveToolErrorTitle).empty());
    EXPECT_EQ(testing::ReadBytes(toolPath_), tool_);
    ::DeleteFileW(toolPath_.c_str());
  }
  EXPECT_EQ(server_.CountRequests(kToolPath), 3u);
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
  } cases[] = {{L"brivon_pinned_to_the_tool.exe", true}, {L"brivon_pinned_elsewhere.exe", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(NarrowLow8(c.program));
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
  struct Case {
    const char* name;
    bool serverUp;
    HttpReply reply;
    bool directoryInTheWay;
    unsigned long code;
  } cases[] = {
      {"404", true, notFound, false, 404},
      {"cut body", true, cut, false, ERROR_INTERNET_CONNECTION_ABORTED},
      {"closed without an answer", true, hangUp, false, ERROR_HTTP_INVALID_SERVER_RESPONSE},
      {"directory named 7za.exe", true, whole, true, ERROR_ACCESS_DENIED},
      {"unreachable", false, HttpReply{}, false, ERROR_INTERNET_CANNOT_CONNECT},
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

    ProgramRun run = testing::RunProgram(exe_);
    EXPECT_EQ(run.exitCode, 0u);
    auto boxes = BoxesTitled(run, kArchiveToolErrorTitle);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, ArchiveToolFailureText(kArchiveToolUrl, c.code));
    if (c.directoryInTheWay) {
      EXPECT_TRUE(testing::IsDirectory(toolPath_));
      ::RemoveDirectoryW(toolPath_.c_str());
    }
    EXPECT_FALSE(testing::Exists(toolPath_));
    server_.Stop();
  }
}

}  // namespace
}  // namespace brivon
