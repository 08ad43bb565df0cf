#include "update/package_download.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/text.h"
#include "common/unique_handle.h"
#include "files/disk_space.h"
#include "files/download_proof.h"
#include "servers/loopback_http_server.h"
#include "support/test_env.h"

namespace brivon {
namespace {

using testing::HttpReply;
using testing::LoopbackHttpServer;
using testing::ReadBytes;
using testing::Reply;
using testing::TempFolder;
using testing::WriteBytes;

std::vector<std::wstring> Listing(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry = {};
  UniqueFind listing(::FindFirstFileW((folder + L"\\*").c_str(), &entry));
  if (!listing) return names;
  do {
    std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (::FindNextFileW(listing.get(), &entry));
  std::sort(names.begin(), names.end());
  return names;
}

class FetchPackageTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()); }
  std::string Url(const std::string& path) { return WideToUtf8(server_.Url(path)); }

  LoopbackHttpServer server_;
  TempFolder folder_;
  std::wstring partial_ = folder_ / L"Programa.exe.parcial";  // where the update streams its package
};

TEST_F(FetchPackageTest, StoresCompleteBodiesInThePartialFile) {
  HttpReply big;
  big.body = "0123456789abcdef";
  big.repeatedSize = 3 * 1024 * 1024 + 7;  // several reads, the last one short
  HttpReply unannounced;
  unannounced.body = "MZ without a length";
  unannounced.sendContentLength = false;
  struct Case {
    const char* name;
    HttpReply reply;
    bool partialBefore;  // one a cut-off run left behind
  } cases[] = {
      {"one byte", Reply(200, "M"), false},
      {"one byte over an old partial file", Reply(200, "M"), true},
      {"several reads", big, true},
      {"no Content-Length", unannounced, false},
      {"203 answer", Reply(203, "MZ"), false},
  };
  for (const auto& c : cases) {
    ::DeleteFileW(partial_.c_str());
    if (c.partialBefore) {
      ASSERT_TRUE(WriteBytes(partial_, "left by an earlier run, longer than the new one"));
    }
    server_.Serve("/p/Programa.exe", c.reply);
    DownloadDetail detail;
    EXPECT_EQ(FetchPackage(Url("/p/Programa.exe?v=7"), partial_, &detail), DownloadResult::Stored) << c.name;
    std::string expected = c.reply.body;
    if (c.reply.repeatedSize) {
      expected.clear();
      while (expected.size() < c.reply.repeatedSize) expected += c.reply.body;
      expected.resize(c.reply.repeatedSize);
    }
    EXPECT_EQ(ReadBytes(partial_), expected) << c.name;
    EXPECT_EQ(detail.bytes, expected.size()) << c.name;
    EXPECT_EQ(Listing(folder_.path()), std::vector<std::wstring>{L"Programa.exe.parcial"}) << c.name;
  }
  ASSERT_FALSE(server_.Requests().empty());
  EXPECT_EQ(server_.Requests()[0].Header("User-Agent"), "UrlAct");
  EXPECT_EQ(server_.Requests()[0].target, "/p/Programa.exe?v=7");
}

TEST_F(FetchPackageTest, FailedTransfersLeaveNothingOfThemselves) {
  HttpReply cut;
  cut.body = std::string(3 * 1024 * 1024, 'M');
  cut.cutAfter = 1536 * 1024;
  HttpReply cutEarly;
  cutEarly.body = "MZ and more";
  cutEarly.cutAfter = 0;
  HttpReply hangUp;
  hangUp.closeWithoutAnswer = true;
  HttpReply chunkedCut = cut;  // in chunks, the connection closed before the last one
  chunkedCut.chunked = true;
  struct Case {
    const char* name;
    HttpReply reply;
    HttpGetResult why;
  } cases[] = {
      {"empty body", Reply(200, ""), HttpGetResult::Truncated},
      {"404", Reply(404, "<html>no</html>"), HttpGetResult::BadStatus},
      {"500", Reply(500, "MZ but an error page"), HttpGetResult::BadStatus},
      {"301 without a place", Reply(301, "moved"), HttpGetResult::BadStatus},
      {"part of a file, status 206", Reply(206, "MZ and a part"), HttpGetResult::BadStatus},
      {"cut mid-way", cut, HttpGetResult::Truncated},
      {"cut before any byte", cutEarly, HttpGetResult::Truncated},
      {"closed without an answer", hangUp, HttpGetResult::BadStatus},  // no status line
      {"in chunks, cut before the last one", chunkedCut, HttpGetResult::ChunkedBody},
  };
  for (const auto& c : cases) {
    server_.Serve("/p/Programa.exe", c.reply);
    DownloadDetail detail;
    EXPECT_EQ(FetchPackage(Url("/p/Programa.exe"), partial_, &detail), DownloadResult::DownloadFailed) << c.name;
    EXPECT_EQ(detail.http, c.why) << c.name;
    EXPECT_NE(detail.error, 0u) << c.name;  // a failure never reads as success
    EXPECT_TRUE(Listing(folder_.path()).empty()) << c.name;
  }
}

// The drive keeps its margin free: on a drive of its own (S:, tests/update/small_drive.sh), whose
// free space only the download moves, the test build's margin is set just under what is free, so
// that a few megabytes fill it.
TEST_F(FetchPackageTest, ADownloadNeverTakesTheDriveBelowTheMargin) {
  constexpr uint64_t MiB = 1024 * 1024;
  if (!testing::SmallDriveMapped(L"S:\\", 96 * MiB)) {
    GTEST_SKIP() << "no small drive S: (the host does not let the test mount one)";
  }
  TempFolder drive(L"brivon-margen", L"S:\\");
  const std::wstring partial = drive / L"Programa.exe.parcial";
  HttpReply announced;
  announced.repeatedSize = 64 * MiB;
  announced.cutAfter = static_cast<int64_t>(MiB);  // refused before any byte is read: no need to send it all
  HttpReply unannounced;
  unannounced.repeatedSize = 32 * MiB;
  unannounced.sendContentLength = false;
  HttpReply small;
  small.repeatedSize = 4 * MiB;
  struct Case {
    const char* name;
    HttpReply reply;
    uint64_t roomMiB;  // free space above the margin
    DownloadResult result;
    bool anyWritten;
  } cases[] = {
      {"an announced length past the room: refused before its first byte", announced, 8, DownloadResult::NoRoom, false},
      {"no length: stopped at the margin", unannounced, 8, DownloadResult::NoRoom, true},
      {"an announced length within the room", small, 16, DownloadResult::Stored, true},
  };
  for (const auto& c : cases) {
    ::DeleteFileW(partial.c_str());
    uint64_t freeBytes = 0;
    ASSERT_TRUE(ReadFreeBytes(drive.path(), &freeBytes));
    ASSERT_GT(freeBytes, (c.roomMiB + 16) * MiB) << c.name;
    const std::wstring marginMiB = std::to_wstring(freeBytes / MiB - c.roomMiB);
    testing::ScopedVariable margin(L"BRIVON_TEST_FREE_MARGIN_MB", marginMiB.c_str());
    server_.Serve("/p/Programa.exe", c.reply);
    DownloadDetail detail;
    EXPECT_EQ(FetchPackage(Url("/p/Programa.exe"), partial, &detail), c.result) << c.name;
    EXPECT_EQ(detail.written != 0, c.anyWritten) << c.name;
    EXPECT_EQ(detail.margin, (freeBytes / MiB - c.roomMiB) * MiB) << c.name;
    if (c.result == DownloadResult::NoRoom) {
      EXPECT_LE(detail.written, freeBytes - detail.margin) << c.name;  // what the margin left, at most
      EXPECT_GT(detail.freeBytes, 0u) << c.name;
      EXPECT_TRUE(Listing(drive.path()).empty()) << c.name;  // nothing of it stays
    } else {
      EXPECT_EQ(ReadBytes(partial).size(), c.reply.repeatedSize) << c.name;
    }
  }
}

TEST_F(FetchPackageTest, UnreachableServerAndEmptyUrlFailToDownload) {
  LoopbackHttpServer gone;
  ASSERT_TRUE(gone.Start());
  std::string refused = WideToUtf8(gone.Url("/p/Programa.exe"));
  gone.Stop();
  for (const std::string& url : {refused, std::string(), std::string("not a url")}) {
    EXPECT_EQ(FetchPackage(url, partial_), DownloadResult::DownloadFailed) << url;
    EXPECT_TRUE(Listing(folder_.path()).empty()) << url;
  }
}

TEST_F(FetchPackageTest, UnwritablePartialFilesFailToSave) {
  server_.Serve("/p/Programa.exe", Reply(200, "MZ new"));
  ASSERT_TRUE(WriteBytes(partial_, "held"));
  {
    // Held open without sharing, as a scanner may hold a file a cut-off run left.
    UniqueFile locked(::CreateFileW(partial_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(locked);
    DownloadDetail detail;
    EXPECT_EQ(FetchPackage(Url("/p/Programa.exe"), partial_, &detail), DownloadResult::SaveFailed);
    EXPECT_NE(detail.error, 0u);
  }
  EXPECT_EQ(ReadBytes(partial_), "held");

  // A folder in the partial file's place, and a partial file in a folder that does not exist.
  ::DeleteFileW(partial_.c_str());
  ASSERT_TRUE(::CreateDirectoryW(partial_.c_str(), nullptr));
  EXPECT_EQ(FetchPackage(Url("/p/Programa.exe"), partial_), DownloadResult::SaveFailed);
  EXPECT_TRUE(testing::IsDirectory(partial_));
  EXPECT_EQ(FetchPackage(Url("/p/Programa.exe"), folder_ / L"falta\\Programa.exe.parcial"), DownloadResult::SaveFailed);
  EXPECT_EQ(Listing(folder_.path()), std::vector<std::wstring>{L"Programa.exe.parcial"});
}

// Without a length, a connection closed cleanly mid-file looks like the end: each kind of file
// counts as whole only by what of itself proves it.
TEST(DownloadEndTest, OnlyALengthOrTheFileItselfProvesTheEnd) {
  using Kind = DownloadedKind;
  using End = DownloadEnd;
  struct Row {
    const char* name;
    Kind kind;
    DownloadEndFacts facts;  // hasLength, zipEndAgrees, signatureValid, pinMatched
    End end;
  } rows[] = {
      {"the tool with its length", Kind::ArchiveTool, {true, false, false, false}, End::Proven},
      {"the tool without a length, pinned", Kind::ArchiveTool, {false, false, false, true}, End::Proven},
      {"the tool without a length or a pin", Kind::ArchiveTool, {false, false, false, false}, End::NoLength},
      {"a signed tool without a length or a pin", Kind::ArchiveTool, {false, false, true, false}, End::NoLength},
      {"a ZIP with its length, whatever its end", Kind::ZipPackage, {true, false, false, false}, End::Proven},
      {"a ZIP without a length whose end meets its size", Kind::ZipPackage, {false, true, false, false}, End::Proven},
      {"a ZIP without a length, cut", Kind::ZipPackage, {false, false, false, false}, End::ZipEndMissing},
      {"a signed ZIP without a length, cut", Kind::ZipPackage, {false, false, true, false}, End::ZipEndMissing},
      {"a file with its length", Kind::FilePackage, {true, false, false, false}, End::Proven},
      {"a signed program without a length", Kind::FilePackage, {false, false, true, false}, End::Proven},
      {"an unsigned program or data file without a length", Kind::FilePackage, {false, false, false, false},
       End::NoLength},
      {"a data file that reads as a ZIP, without a length", Kind::FilePackage, {false, true, false, false},
       End::NoLength},
      {"a file matching the tool's pin, without a length", Kind::FilePackage, {false, false, false, true},
       End::NoLength},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(JudgeDownloadEnd(row.kind, row.facts), row.end) << row.name;
  }
}

}  // namespace
}  // namespace brivon
