#include "alerts/window/remote_resources.h"

#include <windows.h>
#include <richedit.h>

#include <gtest/gtest.h>

#include <sstream>

#include "alerts/model/alert_parser.h"
#include "servers/loopback_http_server.h"
#include "support/test_env.h"
#include "common/text.h"

namespace brivon {
namespace {

using testing::HttpReply;
using testing::LoopbackHttpServer;

HttpReply Body(std::string body, int status = 200, const char* type = "application/octet-stream") {
  HttpReply reply;
  reply.status = status;
  reply.body = std::move(body);
  reply.contentType = type;
  return reply;
}

HttpReply Fixture(const char* name, const char* type) {
  return Body(testing::ReadBytes(testing::SourcePath(std::string("tests/fixtures/alerts/") + name)), 200, type);
}

const char kHtmlPage[] = "<html><body><h1>No encontrado</h1></body></html>";

class RemoteResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gdiplus_.started());
    ASSERT_TRUE(server_.Start());
  }
  std::string Url(const std::string& path) const { return WideToUtf8(server_.Url(path)); }
  // An address where nothing listens: a server's port once it has stopped.
  static std::string DeadUrl() {
    LoopbackHttpServer dead;
    EXPECT_TRUE(dead.Start());
    std::string url = WideToUtf8(dead.Url("/gone.png"));
    dead.Stop();
    return url;
  }

  GdiplusSession gdiplus_;  // first: every bitmap is gone before GDI+ shuts down
  LoopbackHttpServer server_;
};

TEST_F(RemoteResourcesTest, PicturesBecomeBitmapsOfTheirSizeAndOtherBodiesUndrawableOnes) {
  server_.Serve("/p.png", Fixture("picture_37x23.png", "image/png"));
  server_.Serve("/p.jpg", Fixture("picture_41x19.jpg", "image/jpeg"));
  server_.Serve("/page.html", Body(kHtmlPage, 200, "text/html"));
  server_.Serve("/missing.png", Body(kHtmlPage, 404, "text/html"));
  struct Case {
    const char* path;
    bool drawable;
    UINT width;
    UINT height;
  } cases[] = {
      {"/p.png", true, 37, 23},
      {"/p.jpg", true, 41, 19},
      {"/page.html", false, 0, 0},
      {"/missing.png", false, 0, 0},
  };
  for (const auto& c : cases) {
    UniqueBitmap bitmap = FetchImage(Url(c.path));
    ASSERT_TRUE(bitmap) << c.path;  // even an undecodable body gives a bitmap object
    EXPECT_EQ(bitmap->GetLastStatus() == Gdiplus::Ok, c.drawable) << c.path;
    EXPECT_EQ(bitmap->GetWidth(), c.width) << c.path;
    EXPECT_EQ(bitmap->GetHeight(), c.height) << c.path;
  }
  // The decoded pixels are the picture's own, not a blank surface of the right size.
  UniqueBitmap png = FetchImage(Url("/p.png"));
  Gdiplus::Color pixel;
  ASSERT_EQ(png->GetPixel(5, 5, &pixel), Gdiplus::Ok);
  EXPECT_NEAR(pixel.GetR(), 0x20, 2);
  EXPECT_NEAR(pixel.GetG(), 0xA0, 2);
  EXPECT_NEAR(pixel.GetB(), 0x40, 2);
}

TEST_F(RemoteResourcesTest, NothingFetchedGivesNoBitmap) {
  HttpReply huge = Body("x");
  huge.repeatedSize = kMaxRemoteBodyBytes + 1;
  HttpReply endless = huge;  // no length announced: stopped while reading
  endless.sendContentLength = false;
  endless.repeatedSize = kMaxRemoteBodyBytes + 4096 * 8;
  HttpReply refused;
  refused.closeWithoutAnswer = true;
  server_.Serve("/empty.png", Body(""));
  server_.Serve("/huge.png", huge);
  server_.Serve("/endless.png", endless);
  server_.Serve("/refused.png", refused);
  struct Case {
    const char* name;
    std::string address;
  } cases[] = {
      {"empty body", Url("/empty.png")},
      {"over the cap, announced", Url("/huge.png")},
      {"over the cap, unannounced", Url("/endless.png")},
      {"connection closed unanswered", Url("/refused.png")},
      {"nothing listening", DeadUrl()},
      {"not an address", "esto no es una direccion"},
      {"empty address", ""},
  };
  for (const auto& c : cases) EXPECT_FALSE(FetchImage(c.address)) << c.name;
  for (const auto& c : cases) EXPECT_EQ(FetchText(c.address), "") << c.name;
  EXPECT_EQ(server_.Requests().size(), 8u);  // the four served paths, twice; no address, no request

  HttpReply atCap = endless;  // the cap itself is still allowed
  atCap.repeatedSize = kMaxRemoteBodyBytes;
  server_.Serve("/at-cap", atCap);
  EXPECT_EQ(FetchText(Url("/at-cap")).size(), kMaxRemoteBodyBytes);
}

TEST_F(RemoteResourcesTest, DownloadsIdentifyThemselvesAndSkipTheCache) {
  server_.Serve("/p.png", Fixture("picture_37x23.png", "image/png"));
  server_.Serve("/t.rtf", Fixture("terms.rtf", "application/rtf"));
  EXPECT_TRUE(FetchImage(Url("/p.png")));
  EXPECT_TRUE(FetchImage(Url("/p.png")));
  EXPECT_NE(FetchText(Url("/t.rtf")), "");
  EXPECT_NE(FetchText(Url("/t.rtf")), "");
  auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 4u);  // every call reaches the server
  EXPECT_EQ(requests[0].Header("User-Agent"), "MyApp");
  EXPECT_EQ(requests[1].Header("User-Agent"), "MyApp");
  EXPECT_EQ(requests[2].Header("User-Agent"), "RTFMod");
  EXPECT_EQ(requests[3].Header("User-Agent"), "RTFMod");
  for (const auto& r : requests) EXPECT_EQ(r.method, "GET");
}

TEST_F(RemoteResourcesTest, TextComesBackByteForByteWhateverTheStatus) {
  std::string binary("{\\rtf1 a\r\nb\0c\xF3\xFF}", 16);
  std::string large(200000, 'r');
  for (size_t i = 0; i < large.size(); i += 97) large[i] = static_cast<char>(i % 251);
  HttpReply cut = Body(std::string(50000, 'c'));
  cut.cutAfter = 20000;
  server_.Serve("/bin", Body(binary));
  server_.Serve("/large", Body(large));
  server_.Serve("/404", Body(kHtmlPage, 404, "text/html"));
  server_.Serve("/500", Body("fallo", 500, "text/plain"));
  server_.Serve("/cut", cut);
  struct Case {
    const char* path;
    std::string text;
  } cases[] = {
      {"/bin", binary},
      {"/large", large},
      {"/404", kHtmlPage},
      {"/500", "fallo"},
      {"/cut", std::string(20000, 'c')},  // a broken transfer keeps what arrived
  };
  for (const auto& c : cases) EXPECT_EQ(FetchText(Url(c.path)), c.text) << c.path;
}

TEST_F(RemoteResourcesTest, BitmapFromBytesNeedsBytes) {
  EXPECT_FALSE(BitmapFromBytes(""));
  UniqueBitmap garbage = BitmapFromBytes(std::string(3000, '\x89'));
  ASSERT_TRUE(garbage);
  EXPECT_EQ(garbage->GetWidth(), 0u);
}

// A real rich-text box in a hidden window.
class RichTextBoxTest : public RemoteResourcesTest {
 protected:
  void SetUp() override {
    RemoteResourcesTest::SetUp();
    library_.reset(::LoadLibraryW(L"Msftedit.dll"));
    ASSERT_TRUE(library_);
    box_ = ::CreateWindowExW(0, L"RICHEDIT50W", L"", WS_POPUP | ES_MULTILINE | ES_READONLY, 0, 0, 400, 300,
                             nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(box_, nullptr);
  }
  void TearDown() override {
    if (box_ != nullptr) ::DestroyWindow(box_);
  }
  std::string Text() const {
    char buffer[4096] = {};
    GETTEXTEX get{sizeof(buffer), GT_DEFAULT, CP_ACP, nullptr, nullptr};
    ::SendMessageA(box_, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get), reinterpret_cast<LPARAM>(buffer));
    std::string text(buffer);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    return text;
  }
  // The character format of one character: size in twips, bold, font face.
  CHARFORMAT2W FormatAt(LONG position) const {
    ::SendMessageW(box_, EM_SETSEL, position, position + 1);
    CHARFORMAT2W format{};
    format.cbSize = sizeof(format);
    ::SendMessageW(box_, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    return format;
  }

  UniqueModule library_;
  HWND box_ = nullptr;
};

TEST_F(RichTextBoxTest, AnRtfDocumentShowsAsFormattedText) {
  server_.Serve("/t.rtf", Fixture("terms.rtf", "application/rtf"));
  LoadRtfDocument(box_, Url("/t.rtf"));
  const std::string expected = "Terminos de uso: acepto las condiciones.";
  EXPECT_EQ(Text(), expected);
  // The document's own formatting, which plain text would not get.
  CHARFORMAT2W format = FormatAt(static_cast<LONG>(expected.find("acepto")));
  EXPECT_EQ(format.yHeight, 400);
  EXPECT_TRUE(format.dwEffects & CFE_BOLD);
  EXPECT_STREQ(format.szFaceName, L"Arial");
}

TEST_F(RichTextBoxTest, AnErrorPageShowsAsPlainText) {
  server_.Serve("/t.rtf", Body(kHtmlPage, 404, "text/html"));
  LoadRtfDocument(box_, Url("/t.rtf"));
  EXPECT_EQ(Text(), kHtmlPage);
  EXPECT_NE(FormatAt(3).yHeight, 400);
}

TEST_F(RichTextBoxTest, NothingFetchedLeavesTheBoxAsItWas) {
  ::SetWindowTextA(box_, "previo");
  server_.Serve("/empty.rtf", Body(""));
  LoadRtfDocument(box_, Url("/empty.rtf"));
  LoadRtfDocument(box_, DeadUrl());
  EXPECT_EQ(Text(), "previo");
  EXPECT_EQ(server_.CountRequests("/empty.rtf"), 1u);
}

TEST_F(RichTextBoxTest, NoBoxOrNoAddressMakesNoRequest) {
  server_.Serve("/t.rtf", Fixture("terms.rtf", "application/rtf"));
  LoadRtfDocument(nullptr, Url("/t.rtf"));
  LoadRtfDocument(box_, "");
  EXPECT_EQ(server_.Requests().size(), 0u);
  EXPECT_EQ(Text(), "");
}

TEST_F(RemoteResourcesTest, EntryPicturesAreFetchedInDocumentOrderOneRequestEach) {
  server_.Serve("/a.png", Fixture("picture_37x23.png", "image/png"));
  server_.Serve("/b.jpg", Fixture("picture_41x19.jpg", "image/jpeg"));
  server_.Serve("/c.html", Body(kHtmlPage, 200, "text/html"));
  const std::string json = R"({"alertas":[{"tipo":"boton_multiple","contenido":[{"imagen":")" + Url("/b.jpg") +
                           R"("},{"imagen":5},{"imagen":")" + Url("/a.png") + R"("}]},{"tipo":"boton_unico",
                           "contenido":[{"imagen":")" + Url("/c.html") + R"("},{"imagen":")" + Url("/b.jpg") +
                           R"("}]}]})";
  AlertDocument document;
  std::istringstream in(json);
  ASSERT_TRUE(ParseAlertStream(in, document, FetchImage));
  std::vector<std::string> order;
  for (const auto& r : server_.Requests()) order.push_back(r.target);
  EXPECT_EQ(order, (std::vector<std::string>{"/b.jpg", "/a.png", "/c.html", "/b.jpg"}));
  const auto& first = document.alertas.at(0).contenido;
  const auto& second = document.alertas.at(1).contenido;
  ASSERT_EQ(first.size(), 3u);
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(first[0].image->GetWidth(), 41u);
  EXPECT_FALSE(first[1].image);
  EXPECT_EQ(first[2].image->GetWidth(), 37u);
  EXPECT_EQ(second[0].image->GetWidth(), 0u);  // undrawable, yet present
  EXPECT_EQ(second[1].image->GetHeight(), 19u);
  document.ReleaseImages();
}

}  // namespace
}  // namespace brivon
