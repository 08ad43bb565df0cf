// The check-in of the real brivon.exe under Wine, against the loopback service that the test
// build's built-in check-in endpoint points at. Every reply used here but one holds no alert, so
// each run ends right after the check-in without opening a window.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "checkin/product_detection.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "servers/loopback_http_proxy.h"
#include "servers/loopback_http_server.h"
#include "support/alert_window_driver.h"
#include "support/log_lines.h"
#include "support/program_run.h"
#include "support/test_env.h"

namespace brivon {
namespace {

using testing::HttpReply;
using testing::LoopbackHttpServer;
using testing::ProgramRun;
using testing::ReadBytes;
using testing::Reply;
using testing::TempFolder;
using testing::WriteBytes;

constexpr char kCheckinPath[] = "/comprobador/checkin";
constexpr char kLogLineText[] = ";ABIERTO - JSON enviado y respuesta recibida\r\n";
constexpr size_t kTimeStampLength = 19;  // "YYYY-MM-DD hh:mm:ss"

// The report as the service must see it: single line feeds, nothing after "}".
std::string ExpectedReport(const char* identifier, const char* version) {
  return std::string("{\n  \"actualizador_version\": \"1.25.1112\",\n  \"Programa\": \"") + identifier +
         "\",\n  \"Version\": \"" + version + "\"\n}";
}

// What a text-mode stream leaves on disk for text: every LF preceded by CR.
std::string OnDisk(const std::string& text) {
  std::string stored;
  for (char c : text) {
    if (c == '\n') stored += '\r';
    stored += c;
  }
  return stored;
}

// A program folder with brivon.exe and 7za.exe (so no download is tried) and chosen siblings.
class ProgramFolder {
 public:
  // program: another build of brivon.exe among the test tools, installed under its name.
  explicit ProgramFolder(const wchar_t* program = nullptr)
      : exe_(program ? folder_ / L"brivon.exe" : testing::InstallBrivon(folder_.path())) {
    if (program) ::CopyFileW(testing::TestToolPath(program).c_str(), exe_.c_str(), FALSE);
    testing::InstallArchiveTool(folder_.path());
  }
  // Copies a sibling fixture under the executable name of a product-table row.
  bool AddSibling(const wchar_t* fixture, size_t row) {
    return ::CopyFileW(testing::TestToolPath(fixture).c_str(),
                       ProductPath(folder_.path(), kProductTable[row]).c_str(), FALSE);
  }
  std::wstring Log(const wchar_t* name) const { return testing::LogPath(folder_.path(), name); }
  std::wstring Report() const { return Log(L"ComprobadorOrvane.json"); }
  std::wstring ReplyText() const { return Log(L"recibido.txt"); }
  std::wstring AlertDocument() const { return Log(L"recibido.json"); }
  std::wstring CheckinLog() const { return Log(L"ComprobadorOrvane_log.csv"); }
  const TempFolder& folder() const { return folder_; }

  ProgramRun Run(testing::RunOptions options = {}) const {
    options.timeoutMs = 120000;
    return testing::RunProgram(exe_, options);
  }

 private:
  TempFolder folder_;
  std::wstring exe_;
};

void ExpectFinished(const ProgramRun& run) {
  ASSERT_TRUE(run.started) << "CreateProcess error " << run.startError;
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0u);
}

// The check-in log ends with one more line than before, the check-in's own.
void ExpectOneMoreLogLine(const std::string& before, const std::string& after,
                          const std::string& line = kLogLineText) {
  EXPECT_EQ(testing::CountOf(after, "\r\n"), testing::CountOf(before, "\r\n") + 1);
  ASSERT_EQ(after.compare(0, before.size(), before), 0) << "earlier lines were changed";
  std::string added = after.substr(before.size());
  EXPECT_EQ(added.size(), kTimeStampLength + line.size()) << added;
  EXPECT_EQ(added.substr(kTimeStampLength), line);
}

TEST(CheckinEndToEndTest, PostsTheReportOfTheDetectedSiblingAndStoresTheReply) {
  struct Case {
    const char* name;
    std::vector<std::pair<const wchar_t*, size_t>> siblings;  // fixture, product-table row
    size_t reportedRow;
    const char* version;  // the file version, never the product version
  } cases[] = {
      {"file version 10.2.0.15, product version 3.0.0.0", {{L"fixture_sibling_10_2_0_15.exe", 1}}, 1, "10.2.0.15"},
      {"file version 3.0.0.0, product version 10.2.0.15", {{L"fixture_sibling_3_0_0_0.exe", 4}}, 4, "3.0.0.0"},
      {"no version resource", {{L"fixture_sibling_unversioned.exe", 0}}, 0, "No disponible"},
      {"second and fourth rows present",
       {{L"fixture_sibling_65535_0_65535_1.exe", 3}, {L"fixture_sibling_10_2_0_15.exe", 1}}, 1, "10.2.0.15"},
  };
  // No alerts in it; LF and CR LF line ends both, and a UTF-8 letter kept as it came.
  const std::string reply = "{\n  \"titulo\": \"Informaci\xc3\xb3n\",\r\n  \"alertas\": []\n}";
  LoopbackHttpServer server(testing::BuiltInPort());
  ASSERT_TRUE(server.Start());
  server.Serve(kCheckinPath, Reply(200, reply, "application/json"));

  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server.ClearRequests();
    ProgramFolder program;
    for (const auto& [fixture, row] : c.siblings) ASSERT_TRUE(program.AddSibling(fixture, row));
    // Earlier, longer files: each is replaced whole, not overwritten in place.
    ASSERT_TRUE(::CreateDirectoryW(program.Log(L"").c_str(), nullptr));
    const std::string earlier(5000, 'v');
    for (const std::wstring& path : {program.Report(), program.ReplyText(), program.AlertDocument()})
      ASSERT_TRUE(WriteBytes(path, earlier));

    ProgramRun run = program.Run();
    ExpectFinished(run);
    EXPECT_TRUE(run.boxes.empty());

    const std::string report = ExpectedReport(kProductTable[c.reportedRow].identifier, c.version);
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, kCheckinPath);
    EXPECT_NE(("\r\n" + requests[0].headers).find("\r\nContent-Type: application/json\r\n"), std::string::npos)
        << requests[0].headers;
    EXPECT_EQ(requests[0].Header("User-Agent"), "ComprobadorOrvane/1.0");
    EXPECT_EQ(requests[0].body, report);

    EXPECT_EQ(ReadBytes(program.Report()), OnDisk(report));
    EXPECT_EQ(ReadBytes(program.ReplyText()),
              "{\r\n  \"titulo\": \"Informaci\xc3\xb3n\",\r\r\n  \"alertas\": []\r\n}");
    EXPECT_EQ(ReadBytes(program.AlertDocument()), ReadBytes(program.ReplyText()));
    ExpectOneMoreLogLine("", ReadBytes(program.CheckinLog()));
    EXPECT_EQ(testing::Attributes(program.CheckinLog()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM),
              DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM));
  }
}

TEST(CheckinEndToEndTest, EveryKindOfAnswerIsStoredAsTheAlertDocumentAndLogged) {
  std::string longPage = "<html>\n<body>\n";
  while (longPage.size() < 20000) longPage += "<p>Servicio en mantenimiento, vuelva m\xc3\xa1s tarde.</p>\n";
  longPage += "</body>\n</html>\n";
  HttpReply overCap;
  overCap.body = "{\"relleno\": \"0123456789\"}\n";
  overCap.repeatedSize = 8u * 1024 * 1024 + 1;
  HttpReply endless = overCap;
  endless.repeatedSize = uint64_t(1) << 40;
  endless.sendContentLength = false;
  // A byte every 2 s: each restarts WinINet's own limits, so only the exchange's deadline ends it
  // (the test build's, shortened); without it the run would outlast the test's two minutes.
  HttpReply headTrickle = Reply(200, "{\"alertas\": []}", "application/json");
  headTrickle.headByteDelayMs = 2000;
  HttpReply bodyTrickle = Reply(200, "{\"alertas\": [], \"relleno\": \"" + std::string(100, 'x') + "\"}", "application/json");
  bodyTrickle.chunkSize = 1;
  bodyTrickle.chunkDelayMs = 2000;
  constexpr DWORD kShortDeadlineMs = 6000;

  // A document this start could not store must not be replaced by the earlier one: its alerts,
  // an old update among them, would show again at every start.
  // Held: another program has the earlier document open for reading only (err=32). Folder: a
  // folder under its name stands in for a program folder the user may not write (err=5; Wine lets
  // root write a read-only file).
  enum class Blocked { No, Held, Folder };
  const std::string withAlert =
      R"({"alertas":[{"tipo":"solo_mensaje","contenido":[{"texto":"Aviso","color_fondo":"#C00000"}]}]})";
  const std::string windows1252 =
      "{\"alertas\":[{\"tipo\":\"solo_mensaje\",\"contenido\":[{\"texto\":\"Atenci\xf3n\"}]}]}";
  // What arrives before the cut is a whole document with an alert: only the length tells it short.
  HttpReply cutAlert = Reply(200, withAlert + std::string(64, ' '), "application/json");
  cutAlert.cutAfter = static_cast<int64_t>(withAlert.size());
  struct Case {
    const char* name;
    bool serviceUp;
    HttpReply reply;
    std::string stored;  // bytes of recibido.txt and recibido.json
    Blocked blocked = Blocked::No;  // recibido.json cannot be written: it holds an earlier document
    DWORD deadlineMs = 0;           // the exchange's deadline; 0: the built-in one
    std::string documentLine = {};  // the reading's line after the check-in's, @ for the document's path
    bool showsAlert = false;
    std::string checkinLine = kLogLineText;  // the check-in's own line
  } cases[] = {
      {"service down", false, {}, "{\"error\": \"No se pudo enviar la petici\xf3n\"}"},
      {"empty body", true, Reply(200, "", "application/json"),
       "{\"error\": \"Respuesta vac\xed" "a del servidor\"}"},
      {"status 500 with a page", true,
       Reply(500, "<html>\n<body>Error interno del servidor</body>\n</html>\n", "text/html"),
       "<html>\r\n<body>Error interno del servidor</body>\r\n</html>\r\n", Blocked::No, 0,
       "DOCUMENTO_ILEGIBLE;@;motivo=NO_ES_JSON;byte=1"},
      {"page of many reads", true, Reply(200, longPage, "text/html"), OnDisk(longPage), Blocked::No, 0,
       "DOCUMENTO_ILEGIBLE;@;motivo=NO_ES_JSON;byte=1"},
      {"an alert in Windows-1252", true, Reply(200, windows1252, "application/json"), windows1252, Blocked::No, 0,
       "DOCUMENTO_WINDOWS_1252;@;alertas=1", true},
      {"zero byte in the answer", true, Reply(200, std::string("{}\n\0resto", 9), "application/json"), "{}\r\n"},
      {"one byte over 8 MiB", true, overCap, "{\"error\": \"Respuesta demasiado grande del servidor\"}"},
      {"endless answer", true, endless, "{\"error\": \"Respuesta demasiado grande del servidor\"}"},
      {"document held by another program", true, Reply(200, withAlert, "application/json"), withAlert,
       Blocked::Held},
      {"a folder in the document's place", true, Reply(200, withAlert, "application/json"), withAlert,
       Blocked::Folder},
      {"headers a byte every 2 s", true, headTrickle, "{\"error\": \"No se pudo enviar la petici\xf3n\"}",
       Blocked::No, kShortDeadlineMs},
      {"body a byte every 2 s", true, bodyTrickle, "{\"error\": \"No se pudo enviar la petici\xf3n\"}",
       Blocked::No, kShortDeadlineMs},
      {"an alert cut short of its length", true, cutAlert, "{\"error\": \"No se pudo enviar la petici\xf3n\"}",
       Blocked::No, 0, {}, false,
       ";RESPUESTA_INCOMPLETA;motivo=CORTADA;recibidos=" + std::to_string(withAlert.size()) +
           ";anunciados=" + std::to_string(withAlert.size() + 64) + "\r\n"},
  };

  // One program folder for all: the check-in log keeps growing by one line per start.
  ProgramFolder program;
  ASSERT_TRUE(program.AddSibling(L"fixture_sibling_10_2_0_15.exe", 2));
  const std::string report = ExpectedReport(kProductTable[2].identifier, "10.2.0.15");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<LoopbackHttpServer> server;
    if (c.serviceUp) {
      server = std::make_unique<LoopbackHttpServer>(testing::BuiltInPort());
      ASSERT_TRUE(server->Start());
      server->Serve(kCheckinPath, c.reply);
    }
    UniqueHandle holder;
    if (c.blocked == Blocked::Held) {
      ASSERT_TRUE(WriteBytes(program.AlertDocument(), withAlert));
      holder.reset(::CreateFileW(program.AlertDocument().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(holder);
    } else if (c.blocked == Blocked::Folder) {
      ::DeleteFileW(program.AlertDocument().c_str());
      ASSERT_TRUE(::CreateDirectoryW(program.AlertDocument().c_str(), nullptr));
    }
    std::string logBefore = ReadBytes(program.CheckinLog());

    int windows = 0;
    testing::RunOptions options;
    options.whileRunning = [&](DWORD processId) {
      if (!testing::VisibleAlertWindows(processId).empty()) ++windows;
      testing::CloseAlertWindowsThroughCloseBar(processId);
    };
    testing::ScopedVariable deadline(L"BRIVON_TEST_CHECKIN_DEADLINE_MS",
                                     c.deadlineMs ? std::to_wstring(c.deadlineMs) : std::wstring());
    const ULONGLONG start = ::GetTickCount64();
    ProgramRun run = program.Run(options);
    if (c.deadlineMs) std::printf("%s: the run took %llu ms\n", c.name, ::GetTickCount64() - start);
    ExpectFinished(run);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(windows > 0, c.showsAlert);
    EXPECT_FALSE(testing::Exists(program.folder() / L"brivon_en_uso.bloqueo")) << "the folder's lock stays";

    if (server) {
      auto requests = server->Requests();
      ASSERT_EQ(requests.size(), 1u);
      EXPECT_EQ(requests[0].body, report);
    }
    EXPECT_EQ(ReadBytes(program.Report()), OnDisk(report));
    std::string stored = ReadBytes(program.ReplyText());
    EXPECT_EQ(stored.size(), c.stored.size());
    EXPECT_TRUE(stored == c.stored) << stored.substr(0, 200);
    if (c.blocked == Blocked::No) {
      EXPECT_TRUE(ReadBytes(program.AlertDocument()) == c.stored);
      std::string log = ReadBytes(program.CheckinLog());
      if (!c.documentLine.empty()) {
        // The reading of the document, after the check-in's own line.
        std::string line = c.documentLine;
        line.replace(line.find('@'), 1, NarrowLow8(program.AlertDocument()));
        line = ";" + line + "\r\n";
        if (log.size() < logBefore.size() + kTimeStampLength + line.size() ||
            log.compare(log.size() - line.size(), line.size(), line) != 0) {
          ADD_FAILURE() << "no line" << line << "after:\n" << log.substr(logBefore.size());
          continue;
        }
        log.resize(log.size() - line.size() - kTimeStampLength);
      }
      ExpectOneMoreLogLine(logBefore, log, c.checkinLine);
      continue;
    }
    // Why nothing was shown, then the check-in's own line.
    const std::string log = ReadBytes(program.CheckinLog());
    const std::string why = ";ERROR_GUARDAR_RESPUESTA;" + NarrowLow8(program.AlertDocument()) +
                            (c.blocked == Blocked::Held ? ";err=32\r\n" : ";err=5\r\n");
    ASSERT_GT(log.size(), logBefore.size() + kTimeStampLength);
    const std::string added = log.substr(logBefore.size());
    EXPECT_EQ(added.substr(kTimeStampLength, why.size()), why) << added;
    ExpectOneMoreLogLine(logBefore + added.substr(0, kTimeStampLength + why.size()), log);
    holder.reset();
    if (c.blocked == Blocked::Held) {
      EXPECT_EQ(ReadBytes(program.AlertDocument()), withAlert);
      EXPECT_TRUE(::DeleteFileW(program.AlertDocument().c_str()));
    } else {
      EXPECT_TRUE(::RemoveDirectoryW(program.AlertDocument().c_str()));
    }
  }
}

TEST(CheckinEndToEndTest, WithoutAKnownSiblingOnlyTheWarningIsShown) {
  struct Case {
    const char* name;
    bool folderNamedLikeASibling;
    bool unknownExecutable;
  } cases[] = {
      {"nothing beside the program", false, false},
      {"a folder bearing a known executable's name", true, false},
      {"an executable of another name", false, true},
  };
  const std::string earlierReport = "{\n\"anterior\": 1\n}";
  const std::string earlierReply = "{\"error\": \"respuesta anterior\"}\n";
  const std::string earlierLog = "2020-01-02 03:04:05;ABIERTO - JSON enviado y respuesta recibida\r\n";
  LoopbackHttpServer server(testing::BuiltInPort());
  ASSERT_TRUE(server.Start());
  server.ServeDefault(Reply(200, "{}", "application/json"));

  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramFolder program;
    if (c.folderNamedLikeASibling) {
      ASSERT_TRUE(::CreateDirectoryW(ProductPath(program.folder().path(), kProductTable[0]).c_str(), nullptr));
    }
    if (c.unknownExecutable) {
      ASSERT_TRUE(::CopyFileW(testing::TestToolPath(L"fixture_sibling_10_2_0_15.exe").c_str(),
                              (program.folder() / L"otroprograma.exe").c_str(), FALSE));
    }
    ASSERT_TRUE(::CreateDirectoryW(program.Log(L"").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(program.Report(), earlierReport));
    ASSERT_TRUE(WriteBytes(program.ReplyText(), earlierReply));
    ASSERT_TRUE(WriteBytes(program.AlertDocument(), earlierReply));
    ASSERT_TRUE(WriteBytes(program.CheckinLog(), earlierLog));

    ProgramRun run = program.Run();
    ExpectFinished(run);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].title, L"ComprobadorOrvane");
    EXPECT_EQ(run.boxes[0].text, L"No se encontr\u00f3 ning\u00fan ejecutable conocido en la carpeta.");

    EXPECT_EQ(server.CountRequests(kCheckinPath), 0u);
    EXPECT_EQ(ReadBytes(program.Report()), earlierReport);
    EXPECT_EQ(ReadBytes(program.ReplyText()), earlierReply);
    EXPECT_EQ(ReadBytes(program.AlertDocument()), earlierReply);
    EXPECT_EQ(ReadBytes(program.CheckinLog()), earlierLog);
  }
  EXPECT_TRUE(server.Requests().empty());
}

// An office that reaches the web only through its proxy: the check-in, an entry's picture and an
// update package all go through the system's proxy setting. The program's check-in host and the
// document's hosts resolve nowhere; only the proxy knows the way. A proxy that asks for sign-in
// before it relays an address is asked once more for it; a server the settings reach straight
// (on their bypass list) that asks for the proxy's sign-in is fishing for the person's Windows
// account, and is never asked again.
TEST(CheckinEndToEndTest, BehindTheSystemsProxyEverySessionGoesThroughIt) {
  LoopbackHttpServer server(testing::BuiltInPort());
  ASSERT_TRUE(server.Start());
  testing::LoopbackHttpProxy proxy(server.port());
  ASSERT_TRUE(proxy.Start());
  const std::string package = ReadBytes(testing::TestToolPath(L"fixture_sibling_3_0_0_0.exe"));
  ASSERT_FALSE(package.empty());
  const std::string picture = ReadBytes(testing::SourcePath("tests/fixtures/alerts/picture_37x23.png"));
  const std::string straight = "http://127.0.0.1:" + std::to_string(server.port());
  HttpReply signInRequired = Reply(407, "<html>Identif\xedquese</html>", "text/html");
  signInRequired.headers.push_back({"Proxy-Authenticate", "Basic realm=\"oficina\""});

  struct Case {
    const char* name;
    const wchar_t* bypass;
    std::string pictureSite, packageSite;  // scheme and host
    const char* proxySignIn;               // a path the proxy asks sign-in for once before relaying it
    bool serverAsksSignIn;                 // the server answers the picture and the package with 407
    size_t pictureThroughProxy, packageThroughProxy, pictureAtServer, packageAtServer;
  } cases[] = {
      {"every address through the proxy, which asks sign-in for the picture", L"",
       "http://fotos.brivon.invalid", "http://paquetes.brivon.invalid", "/foto.png", false, 2, 1, 1, 1},
      {"a server on the bypass list asks for the proxy's sign-in", L"<local>;127.0.0.1", straight, straight, nullptr,
       true, 0, 0, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server.ClearRequests();
    testing::SystemProxySetting setting(L"127.0.0.1:" + std::to_wstring(proxy.port()), c.bypass);
    if (c.proxySignIn) proxy.AskSignInOnce(c.proxySignIn, "NTLM");
    server.Serve("/pkg/facturaorva.exe",
                 c.serverAsksSignIn ? signInRequired : Reply(200, package, "application/octet-stream"));
    server.Serve("/foto.png", c.serverAsksSignIn ? signInRequired : Reply(200, picture, "image/png"));
    server.Serve(kCheckinPath,
                 Reply(200,
                       R"({"titulo":"Avisos","alertas":[{"tipo":"url_actualizar","titulo":"Actualizando","contenido":[)"
                       R"({"texto":"","imagen":")" + c.pictureSite + R"(/foto.png",)"
                       R"("enlace":")" + c.packageSite + R"(/pkg/facturaorva.exe"}]}]})",
                       "application/json"));
    const size_t before = proxy.Requests().size();

    ProgramFolder program(L"brivon_behind_proxy.exe");
    ASSERT_TRUE(program.AddSibling(L"fixture_sibling_10_2_0_15.exe", 0));
    const std::string installed = ReadBytes(program.folder() / L"facturaorva.exe");
    ProgramRun run = program.Run();
    ExpectFinished(run);

    const std::vector<std::string> all = proxy.Requests();
    const std::vector<std::string> through(all.begin() + static_cast<long>(before), all.end());
    // Wine's WinINet names the default port in the target, as "host:80".
    auto went = [&](const std::string& method, const std::string& site, const std::string& path) {
      return static_cast<size_t>(std::count_if(through.begin(), through.end(), [&](const std::string& request) {
        return request == method + " " + site + path || request == method + " " + site + ":80" + path;
      }));
    };
    EXPECT_EQ(went("POST", "http://comprobador.brivon.invalid", "/comprobador/checkin"), 1u);
    EXPECT_EQ(went("GET", c.pictureSite, "/foto.png"), c.pictureThroughProxy);
    EXPECT_EQ(went("GET", c.packageSite, "/pkg/facturaorva.exe"), c.packageThroughProxy);
    EXPECT_EQ(server.CountRequests("/foto.png"), c.pictureAtServer);
    EXPECT_EQ(server.CountRequests("/pkg/facturaorva.exe"), c.packageAtServer);
    const std::string downloads = ReadBytes(program.Log(L"descargas.csv"));
    if (c.serverAsksSignIn) {
      EXPECT_EQ(ReadBytes(program.folder() / L"facturaorva.exe"), installed);
      continue;
    }
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(ReadBytes(program.folder() / L"facturaorva.exe"), package);
    EXPECT_NE(downloads.find(";DESCARGA;" + c.packageSite + "/pkg/facturaorva.exe;"), std::string::npos) << downloads;
  }
}

}  // namespace
}  // namespace brivon
