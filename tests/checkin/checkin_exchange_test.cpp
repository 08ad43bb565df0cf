// The POST and the reply text, against a real loopback service over real WinINet.
#include "checkin/checkin_exchange.h"

#include <gtest/gtest.h>


#include "servers/loopback_http_server.h"
#include "support/test_env.h"

namespace brivon {
namespace {

using testing::HttpReply;
using testing::LoopbackHttpServer;

constexpr char kPath[] = "/comprobador/checkin";
constexpr char kReport[] = "{\n  \"actualizador_version\": \"1.25.1112\",\n  \"Programa\": \"ContaOrva\",\n"
                           "  \"Version\": \"10.2.0.15\"\n}";

CheckinEndpoint EndpointOf(const LoopbackHttpServer& server) { return {L"127.0.0.1", server.port(), L"/comprobador/checkin"}; }

// The service answers in JSON unless a row says otherwise.
HttpReply Reply(int status, std::string body, std::string contentType = "application/json") {
  return testing::Reply(status, std::move(body), std::move(contentType));
}

TEST(CheckinErrorTextTest, AreWindows1252ByteForByte) {
  struct Case {
    std::string text;
    std::string expected;
  } cases[] = {
      {kErrorSessionText, "{\"error\": \"No se pudo inicializar WinINet\"}"},
      {kErrorConnectText, "{\"error\": \"No se pudo conectar al servidor\"}"},
      {kErrorRequestText, std::string("{\"error\": \"No se pudo crear la petici") + char(0xF3) + "n HTTP\"}"},
      {kErrorSendText, std::string("{\"error\": \"No se pudo enviar la petici") + char(0xF3) + "n\"}"},
      {kErrorEmptyText, std::string("{\"error\": \"Respuesta vac") + char(0xED) + "a del servidor\"}"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.text, c.expected);
}

TEST(ReplyChunkTest, KeepsEachChunkUpToItsFirstZeroByte) {
  struct Case {
    std::string before;
    std::string chunk;
    std::string expected;
  } cases[] = {
      {"", "{\"a\": 1}", "{\"a\": 1}"},
      {"abc", "def", "abcdef"},
      {"abc", std::string("de\0fg", 5), "abcde"},
      {"abc", std::string("\0fg", 3), "abc"},
      {"", std::string("x\0y\0z", 5), "x"},
      {"abc", "", "abc"},
  };
  for (const auto& c : cases) {
    std::string reply = c.before;
    AppendReplyChunk(reply, c.chunk.data(), c.chunk.size());
    EXPECT_EQ(reply, c.expected);
  }
}

TEST(PostCheckinReportTest, SendsThePostWithJsonHeaderAndExactBody) {
  LoopbackHttpServer server;
  ASSERT_TRUE(server.Start());
  server.Serve(kPath, Reply(200, "{}"));
  EXPECT_EQ(PostCheckinReportTo(EndpointOf(server), kReport), "{}");
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, kPath);
  EXPECT_EQ(requests[0].Header("Content-Type"), "application/json");
  EXPECT_EQ(requests[0].Header("User-Agent"), "ComprobadorOrvane/1.0");
  EXPECT_EQ(requests[0].Header("Content-Length"), std::to_string(sizeof(kReport) - 1));
  EXPECT_EQ(requests[0].body, kReport);
}

TEST(PostCheckinReportTest, ReplyTextForEachKindOfAnswer) {
  std::string longBody;
  for (int i = 0; longBody.size() < 10000; ++i) longBody += "{\"linea\": " + std::to_string(i) + "}\n";
  // A zero byte drops the rest of the 4,095-byte read that holds it; the next reads count again.
  std::string firstRead = std::string(100, 'a') + '\0' + std::string(kReplyBufferSize - 1 - 101, 'b');
  std::string zeroMidway = firstRead + std::string(3000, 'c');
  HttpReply cut = Reply(200, longBody);
  cut.cutAfter = 5000;
  HttpReply noLength = Reply(200, "{\"sin\": \"longitud\"}");
  noLength.sendContentLength = false;
  HttpReply exactlyCap;
  exactlyCap.body = "x";
  exactlyCap.repeatedSize = 64 * 1024;
  HttpReply overCap = exactlyCap;
  overCap.repeatedSize = 64 * 1024 + 1;
  HttpReply endless = exactlyCap;
  endless.repeatedSize = uint64_t(1) << 40;
  endless.sendContentLength = false;
  HttpReply inChunks = Reply(200, longBody);
  inChunks.chunked = true;
  inChunks.chunkSize = 3000;
  // No length to fall short of: only the failed read tells the body was cut.
  HttpReply silentMidway = Reply(200, longBody);
  silentMidway.sendContentLength = false;
  silentMidway.chunkSize = 5000;
  silentMidway.chunkDelayMs = 4000;
  constexpr DWORD kShortReceiveMs = 1000;
  auto withLength = [](const char* length) {
    HttpReply reply = Reply(200, "{\"alertas\": []}");
    reply.sendContentLength = false;
    reply.headers.push_back({"Content-Length", length});
    return reply;
  };

  struct Case {
    const char* name;
    HttpReply reply;
    std::string expected;
    ReplyCutKind cut = ReplyCutKind::None;
    DWORD receiveTimeoutMs = kReceiveTimeoutMs;
  } cases[] = {
      {"alert document", Reply(200, "{\n  \"alertas\": []\n}\r\n"), "{\n  \"alertas\": []\n}\r\n"},
      {"error page", Reply(500, "<html><body>Error interno</body></html>", "text/html"),
       "<html><body>Error interno</body></html>"},
      {"not found page", Reply(404, "<html>404</html>", "text/html"), "<html>404</html>"},
      {"empty body", Reply(200, ""), kErrorEmptyText},
      {"empty error answer", Reply(503, ""), kErrorEmptyText},
      {"only a zero byte", Reply(200, std::string("\0", 1)), kErrorEmptyText},
      {"zero byte in a short body", Reply(200, std::string("{}\0tail", 7)), "{}"},
      {"zero byte in the first of two reads", Reply(200, zeroMidway), std::string(100, 'a') + std::string(3000, 'c')},
      {"several reads", Reply(200, longBody), longBody},
      {"body cut short of its length", cut, kErrorSendText, ReplyCutKind::ShortOfLength},
      {"read failed mid-way", silentMidway, kErrorSendText, ReplyCutKind::ReadFailed, kShortReceiveMs},
      {"negative length", withLength("-5"), kErrorSendText, ReplyCutKind::BadLength},
      {"length not a number", withLength("abc"), kErrorSendText, ReplyCutKind::BadLength},
      {"no content length", noLength, "{\"sin\": \"longitud\"}"},
      {"in chunks", inChunks, longBody},
      {"exactly the cap", exactlyCap, std::string(64 * 1024, 'x')},
      {"one byte over the cap", overCap, kErrorTooLargeText},
      {"endless body", endless, kErrorTooLargeText},
  };
  LoopbackHttpServer server;
  ASSERT_TRUE(server.Start());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server.Serve(kPath, c.reply);
    ReplyCut ended;
    std::string reply =
        PostCheckinReportTo(EndpointOf(server), kReport, 64 * 1024, c.receiveTimeoutMs, kCheckinDeadlineMs, &ended);
    EXPECT_EQ(reply.size(), c.expected.size());
    EXPECT_TRUE(reply == c.expected) << reply.substr(0, 200);
    EXPECT_EQ(ended.kind, c.cut);
  }
}

TEST(PostCheckinReportTest, BuiltInCapAcceptsEightMebibytesAndRefusesMore) {
  LoopbackHttpServer server;
  ASSERT_TRUE(server.Start());
  HttpReply reply;
  reply.body = "0123456789abcdef";
  reply.repeatedSize = kMaxReplyBytes;
  server.Serve(kPath, reply);
  EXPECT_EQ(PostCheckinReportTo(EndpointOf(server), kReport).size(), kMaxReplyBytes);
  reply.repeatedSize = kMaxReplyBytes + 1;
  server.Serve(kPath, reply);
  EXPECT_EQ(PostCheckinReportTo(EndpointOf(server), kReport), kErrorTooLargeText);
}

TEST(PostCheckinReportTest, UnreachableServiceGivesTheSendError) {
  uint16_t port = 0;
  {
    LoopbackHttpServer server;
    ASSERT_TRUE(server.Start());
    port = server.port();
  }
  EXPECT_EQ(PostCheckinReportTo({L"127.0.0.1", port, L"/comprobador/checkin"}, kReport), kErrorSendText);
}

TEST(PostCheckinReportTest, ServiceThatHangsUpWithoutAnswerGivesAnErrorObject) {
  LoopbackHttpServer server;
  ASSERT_TRUE(server.Start());
  HttpReply closed;
  closed.closeWithoutAnswer = true;
  server.Serve(kPath, closed);
  std::string reply = PostCheckinReportTo(EndpointOf(server), kReport);
  // Windows' WinINet fails the send; Wine's takes the silence for an empty answer.
  EXPECT_TRUE(reply == kErrorSendText || reply == kErrorEmptyText) << reply;
}

// A service that takes the request and never answers ends in an error object after the receive
// limit: the start-up goes on instead of waiting for good.
TEST(PostCheckinReportTest, SilentServiceEndsInTheSendErrorAfterTheLimit) {
  LoopbackHttpServer server;
  ASSERT_TRUE(server.Start());
  HttpReply silent;
  silent.neverAnswer = true;
  server.Serve(kPath, silent);
  const DWORD start = ::GetTickCount();
  const std::string reply = PostCheckinReportTo(EndpointOf(server), kReport, kMaxReplyBytes, 1500);
  const DWORD elapsed = ::GetTickCount() - start;
  EXPECT_EQ(reply, kErrorSendText);
  EXPECT_GE(elapsed, 1000u);
  EXPECT_LT(elapsed, 20000u);
  EXPECT_EQ(server.CountRequests(kPath), 1u);
}

}  // namespace
}  // namespace brivon
