#include "alerts/model/alert_parser.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "common/text.h"
#include "support/log_lines.h"
#include "support/test_env.h"

namespace brivon {
namespace {

// The whole model as one line, so that a table row can state what a document becomes.
// Colours that keep their initial values are left out.
std::string Describe(const AlertDocument& d) {
  std::string out = "T=" + d.titulo;
  if (d.color_fondo != "#FFFFFF") out += " F=" + d.color_fondo;
  if (d.color_titulo_fondo != "#0078D7") out += " TF=" + d.color_titulo_fondo;
  if (d.color_titulo_texto != "#FFFFFF") out += " TT=" + d.color_titulo_texto;
  for (const Alert& a : d.alertas) {
    out += " A(" + a.tipo + "," + std::to_string(a.columnas) + ")[";
    for (const AlertItem& i : a.contenido) {
      out += "{" + i.texto + "|" + i.enlace;
      if (i.color_fondo != "#FFFFFF" || i.color_texto != "#000000") out += "|" + i.color_fondo + "|" + i.color_texto;
      out += "}";
    }
    out += "]";
  }
  return out;
}

struct Recorder {
  std::vector<std::string> addresses;
  ImageFetch Fetch() {
    return [this](const std::string& address) {
      addresses.push_back(address);
      return UniqueBitmap();
    };
  }
};

bool ParseText(const std::string& text, AlertDocument& document, const ImageFetch& fetch = {}) {
  std::istringstream in(text);
  return ParseAlertStream(in, document, fetch);
}

TEST(AlertParserTest, ValidDocumentsBecomeTheirModel) {
  struct Case {
    const char* name;
    std::string json;
    std::string model;
  } cases[] = {
      {"empty object", "{}", "T=Alertas"},
      {"empty title", R"({"titulo":""})", "T="},
      {"title and colours", R"({"titulo":"Aviso","color_fondo":"#101010","color_titulo_fondo":"#202020","color_titulo_texto":"#303030"})",
       "T=Aviso F=#101010 TF=#202020 TT=#303030"},
      {"words after the root", R"({"titulo":"x"} and then words)", "T=x"},
      {"second object after the root", R"({"titulo":"A"}{"titulo":"B"})", "T=A"},
      {"garbage after the root", "{\"titulo\":\"x\"}\n}}}[[[\xff", "T=x"},
      {"byte-order mark", "\xEF\xBB\xBF{\"titulo\":\"bom\"}", "T=bom"},
      {"UTF-8 kept as bytes", "{\"titulo\":\"Atenci\xC3\xB3n\"}", "T=Atenci\xC3\xB3n"},
      {"Windows-1252 letters read as such", "{\"titulo\":\"Atenci\xF3n \x80\"}", "T=Atenci\xC3\xB3n \xE2\x82\xAC"},
      {"escapes resolved", R"({"titulo":"a\u00e9\n\"q\""})", "T=a\xC3\xA9\n\"q\""},
      {"CR LF lines", "{\r\n\"titulo\": \"x\",\r\n\"alertas\": []\r\n}\r\n", "T=x"},
      {"last of a repeated key", R"({"titulo":"uno","titulo":"dos"})", "T=dos"},
      {"keys differing in case are ignored", R"({"Titulo":"x","ALERTAS":[{}],"Color_Fondo":"#000000"})", "T=Alertas"},
      {"unknown keys ignored", R"({"extra":{"a":[1,2]},"alertas":[{"tipo":"solo_mensaje","otro":1,"contenido":[{"texto":"t","nada":null}]}]})",
       "T=Alertas A(solo_mensaje,1)[{t|}]"},
      {"alert without tipo or contenido", R"({"alertas":[{}]})", "T=Alertas A(,1)[]"},
      {"contenido that is an object", R"({"alertas":[{"tipo":"boton_unico","contenido":{"texto":"x"}}]})",
       "T=Alertas A(boton_unico,1)[]"},
      {"empty contenido", R"({"alertas":[{"tipo":"boton_unico","contenido":[]}]})", "T=Alertas A(boton_unico,1)[]"},
      {"alertas that is an object", R"({"alertas":{"tipo":"boton_unico"}})", "T=Alertas"},
      {"alertas that is a string", R"({"alertas":"x"})", "T=Alertas"},
      {"entry fields and defaults",
       R"({"alertas":[{"tipo":"boton_multiple","columnas":"2","contenido":[
            {"texto":"a","enlace":"http://e/1","color_fondo":"#112233","color_texto":"#445566"},{}]}]})",
       "T=Alertas A(boton_multiple,2)[{a|http://e/1|#112233|#445566}{|}]"},
      {"alerts in document order", R"({"alertas":[{"tipo":"b"},{"tipo":"a"},{"tipo":"c"}]})",
       "T=Alertas A(b,1)[] A(a,1)[] A(c,1)[]"},
      {"very deep nesting in an unknown key", "{\"x\":" + std::string(100000, '[') + std::string(100000, ']') + "}",
       "T=Alertas"},
  };
  for (const auto& c : cases) {
    AlertDocument document;
    ASSERT_TRUE(ParseText(c.json, document)) << c.name;
    EXPECT_EQ(Describe(document), c.model) << c.name;
  }
}

TEST(AlertParserTest, MalformedDocumentsAreRejected) {
  struct Case {
    const char* name;
    std::string json;
  } cases[] = {
      {"empty file", ""},
      {"only white space", " \r\n\t "},
      {"line comment first", "// alertas\n{}"},
      {"block comment first", "/* alertas */{}"},
      {"comment inside", "{\"titulo\":\"x\" /* c */}"},
      {"truncated", R"({"titulo":"x","alertas":[{"tipo":"solo_)"},
      {"trailing comma", R"({"titulo":"x",})"},
      {"single quotes", "{'titulo':'x'}"},
      {"bare word", "alertas"},
      {"number beyond a double", R"({"alertas":[],"n":1e999})"},
      {"BOM alone", "\xEF\xBB\xBF"},
      {"control character in a string", "{\"titulo\":\"a\x01\"}"},
  };
  for (const auto& c : cases) {
    AlertDocument document;
    EXPECT_FALSE(ParseText(c.json, document)) << c.name;
  }
}

// Valid JSON that breaks the schema: the wrong type counts as absent, an element that is not
// an object is skipped, a root that is not an object is a malformed document.
TEST(AlertParserTest, SchemaBreaksAreAbsorbed) {
  struct Case {
    const char* name;
    std::string json;
    bool ok;
    std::string model;
  } cases[] = {
      {"root array", R"([{"titulo":"x"}])", false, ""},
      {"root string", R"("x")", false, ""},
      {"root number", "3", false, ""},
      {"root null", "null", false, ""},
      {"root true", "true", false, ""},
      {"title number", R"({"titulo":5})", true, "T=Alertas"},
      {"title null", R"({"titulo":null})", true, "T=Alertas"},
      {"title object", R"({"titulo":{"a":"b"}})", true, "T=Alertas"},
      {"colours of other types", R"({"color_fondo":null,"color_titulo_fondo":7,"color_titulo_texto":["#000000"]})", true,
       "T=Alertas"},
      {"alert elements that are not objects", R"({"alertas":[1,"x",null,[],true,{"tipo":"solo_mensaje"}]})", true,
       "T=Alertas A(solo_mensaje,1)[]"},
      {"entry elements that are not objects", R"({"alertas":[{"contenido":[3,"x",{"texto":"t"},null,[{}]]}]})", true,
       "T=Alertas A(,1)[{t|}]"},
      {"entry fields of other types",
       R"({"alertas":[{"tipo":7,"contenido":[{"texto":[1],"enlace":{},"color_fondo":true,"color_texto":null}]}]})", true,
       "T=Alertas A(,1)[{|}]"},
  };
  for (const auto& c : cases) {
    AlertDocument document;
    ASSERT_EQ(ParseText(c.json, document), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ(Describe(document), c.model) << c.name;
    }
  }
}

// What the check-in log says about a document: nothing for one that reads, why for one that does
// not, so that support tells "no alerts" from a reply that is no alert document.
TEST(AlertParserTest, EachReadingGivesItsLogLine) {
  const std::string unreadable = "DOCUMENTO_ILEGIBLE;D;motivo=";
  struct Case {
    const char* name;
    std::string text;
    std::string line;
  } cases[] = {
      {"no alerts", R"({"alertas":[]})", ""},
      {"empty object", "{}", ""},
      {"UTF-8 alert", "{\"alertas\":[{\"tipo\":\"solo_mensaje\",\"titulo\":\"Atenci\xC3\xB3n\"}]}", ""},
      {"Windows-1252 alerts", "{\"alertas\":[{\"titulo\":\"Atenci\xF3n\"},{}]}", "DOCUMENTO_WINDOWS_1252;D;alertas=2"},
      {"the check-in's own error text", "{\"error\": \"No se pudo enviar la petici\xf3n\"}", ""},
      {"a portal's page", "<html><body>Acceso a Internet</body></html>", unreadable + "NO_ES_JSON;byte=1"},
      {"a portal's page in Windows-1252", "<html>Identif\xEDquese</html>", unreadable + "NO_ES_JSON;byte=1"},
      {"cut short", R"({"alertas":[{"tipo":"solo_)", unreadable + "NO_ES_JSON;byte=27"},  // one past its end
      {"Windows-1252 cut after its letter", "{\"titulo\":\"Atenci\xF3n\",}", unreadable + "NO_ES_JSON;byte=22"},
      {"empty", "", unreadable + "NO_ES_JSON;byte=1"},
      {"number beyond a double", R"({"n":1e999})", unreadable + "NO_ES_JSON"},
      {"a list", R"([{"alertas":[]}])", unreadable + "RAIZ_NO_ES_OBJETO"},
      {"a string", "\"alertas\"", unreadable + "RAIZ_NO_ES_OBJETO"},
      {"alertas an object", R"({"alertas":{"tipo":"solo_mensaje"}})", unreadable + "ALERTAS_NO_ES_LISTA"},
      {"alertas null", R"({"alertas":null})", unreadable + "ALERTAS_NO_ES_LISTA"},
  };
  for (const auto& c : cases) {
    AlertDocument document;
    EXPECT_EQ(DocumentReadingLogText("D", ParseAlertText(c.text, document, {})), c.line) << c.name;
  }
}

TEST(AlertParserTest, ColumnasTextConversion) {
  struct Case {
    std::string text;
    int32_t columns;
  } cases[] = {
      {"3", 3},           {"0", 1},           {"-2", 1},          {"   4", 4},         {"\t\r\n7", 7},
      {"2a", 2},          {"3.9", 3},         {"a2", 1},          {"", 1},            {" ", 1},
      {"+5", 5},          {"-", 1},           {"+-1", 1},         {"- 3", 1},         {"99999999999", 1},
      {"2147483647", 2147483647},             {"2147483648", 1},  {"-2147483648", 1}, {"-2147483649", 1},
      {"0000000000000000000012", 12},         {std::string("6\0" "1", 3), 6},
  };
  for (const auto& c : cases) EXPECT_EQ(ColumnsFromText(c.text), c.columns) << "[" << c.text << "]";
}

TEST(AlertParserTest, ColumnasMustBeAString) {
  struct Case {
    const char* value;
    int32_t columns;
  } cases[] = {
      {R"("3")", 3}, {"3", 1}, {"3.0", 1}, {"true", 1}, {"null", 1}, {R"(["3"])", 1}, {R"({"n":"3"})", 1},
      {R"(" 4")", 4}, {R"("2x")", 2}, {R"("x2")", 1}, {R"("-2")", 1}, {R"("99999999999")", 1},
  };
  for (const auto& c : cases) {
    AlertDocument document;
    ASSERT_TRUE(ParseText(std::string(R"({"alertas":[{"tipo":"boton_multiple","columnas":)") + c.value + "}]}", document))
        << c.value;
    ASSERT_EQ(document.alertas.size(), 1u);
    EXPECT_EQ(document.alertas[0].columnas, c.columns) << c.value;
  }
}

TEST(AlertParserTest, PicturesAreFetchedInDocumentOrderForStringAddressesOnly) {
  Recorder recorder;
  AlertDocument document;
  ASSERT_TRUE(ParseText(R"({"alertas":[
      {"tipo":"boton_multiple","contenido":[{"imagen":"http://h/1.png"},{"imagen":3},{"imagen":"http://h/2.png"},{}]},
      {"tipo":"x","contenido":{"imagen":"http://h/never.png"}},
      {"imagen":"http://h/alert-level.png","contenido":[{"imagen":null},{"imagen":""},{"imagen":"http://h/3.png"}]}]})",
                        document, recorder.Fetch()));
  EXPECT_EQ(recorder.addresses, (std::vector<std::string>{"http://h/1.png", "http://h/2.png", "", "http://h/3.png"}));
  EXPECT_EQ(document.alertas.size(), 3u);
}

TEST(AlertParserTest, AMalformedDocumentFetchesNoPicture) {
  Recorder recorder;
  AlertDocument document;
  // The syntax error comes after the entry: nothing may be fetched before the whole text is read.
  EXPECT_FALSE(ParseText(R"({"alertas":[{"contenido":[{"imagen":"http://h/1.png"}]}],)", document, recorder.Fetch()));
  EXPECT_FALSE(ParseText(R"([{"contenido":[{"imagen":"http://h/1.png"}]}])", document, recorder.Fetch()));
  EXPECT_TRUE(recorder.addresses.empty());
}

AlertDocument Filled() {
  AlertDocument document;
  document.titulo = "Previo";
  document.color_fondo = "#111111";
  document.alertas.emplace_back();
  document.alertas[0].tipo = "solo_mensaje";
  document.alertas[0].contenido.emplace_back();
  document.alertas[0].contenido[0].texto = "texto previo";
  return document;
}

TEST(AlertParserTest, AFailedParseLeavesTheDocumentAsItWas) {
  for (const char* json : {"", "{", "[]", "\"x\"", "// c\n{}"}) {
    AlertDocument document = Filled();
    EXPECT_FALSE(ParseText(json, document)) << json;
    EXPECT_EQ(Describe(document), "T=Previo F=#111111 A(solo_mensaje,1)[{texto previo|}]") << json;
  }
  // A success replaces the alerts and keeps colours the document does not name.
  AlertDocument document = Filled();
  ASSERT_TRUE(ParseText(R"({"titulo":"Nuevo","alertas":[{"tipo":"boton_unico"}]})", document));
  EXPECT_EQ(Describe(document), "T=Nuevo F=#111111 A(boton_unico,1)[]");
}

class AlertParserPictureTest : public ::testing::Test {
 protected:
  GdiplusSession gdiplus_;
};

int liveBitmaps = 0;
class CountedBitmap : public Gdiplus::Bitmap {
 public:
  CountedBitmap() : Gdiplus::Bitmap(2, 3, PixelFormat32bppARGB) { ++liveBitmaps; }
  ~CountedBitmap() override { --liveBitmaps; }
};

TEST_F(AlertParserPictureTest, PicturesGoToTheirEntryAndAreReleasedWithAFailedParse) {
  ASSERT_TRUE(gdiplus_.started());
  const std::string json =
      R"({"alertas":[{"contenido":[{"texto":"a","imagen":"1"},{"texto":"b"},{"texto":"c","imagen":"2"}]}]})";
  {
    AlertDocument document;
    ASSERT_TRUE(ParseText(json, document, [](const std::string&) { return UniqueBitmap(new CountedBitmap()); }));
    const auto& items = document.alertas.at(0).contenido;
    ASSERT_EQ(items.size(), 3u);
    ASSERT_TRUE(items[0].image);
    EXPECT_EQ(items[0].image->GetWidth(), 2u);
    EXPECT_FALSE(items[1].image);
    EXPECT_TRUE(items[2].image);
    EXPECT_EQ(liveBitmaps, 2);
    document.ReleaseImages();
    EXPECT_EQ(liveBitmaps, 0);
    EXPECT_FALSE(document.alertas[0].contenido[0].image);
  }
  // The second fetch fails hard: the first picture must not outlive the failed parse.
  AlertDocument document = Filled();
  int calls = 0;
  EXPECT_FALSE(ParseText(json, document, [&calls](const std::string&) {
    if (++calls == 2) throw std::runtime_error("fetch failed");
    return UniqueBitmap(new CountedBitmap());
  }));
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(liveBitmaps, 0);
  EXPECT_EQ(Describe(document), "T=Previo F=#111111 A(solo_mensaje,1)[{texto previo|}]");
}

class AlertDocumentFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t previous[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    previous_ = previous;
    ASSERT_TRUE(::SetCurrentDirectoryW(folder_.path().c_str()));
  }
  void TearDown() override { ::SetCurrentDirectoryW(previous_.c_str()); }
  testing::TempFolder folder_;
  std::wstring previous_;
};

TEST_F(AlertDocumentFileTest, ReadsTheDocumentUnderTheCurrentDirectory) {
  AlertDocument document;
  const auto parse = [&](const std::string& path) {
    return ParseAlertDocumentIn(folder_.path(), path, document, {});
  };
  const std::wstring log = testing::LogPath(folder_.path(), L"ComprobadorOrvane_log.csv");
  EXPECT_FALSE(parse(kAlertDocumentPath));  // no file yet, and no line for it
  EXPECT_FALSE(testing::Exists(log));
  ASSERT_TRUE(::CreateDirectoryW((folder_ / L"actualizador_registros").c_str(), nullptr));
  ASSERT_TRUE(testing::WriteBytes(testing::LogPath(folder_.path(), L"recibido.json"),
                                  "\xEF\xBB\xBF{\r\n\"titulo\": \"Aviso\",\r\n\"alertas\": [{\"tipo\": \"solo_mensaje\","
                                  "\r\n\"contenido\": [{\"texto\": \"l\\u00ednea\"}]}]\r\n}\r\n"));
  ASSERT_TRUE(parse(kAlertDocumentPath));
  EXPECT_EQ(Describe(document), "T=Aviso A(solo_mensaje,1)[{l\xC3\xADnea|}]");
  EXPECT_FALSE(testing::Exists(log));

  ASSERT_TRUE(testing::WriteBytes(testing::LogPath(folder_.path(), L"recibido.json"), ""));
  EXPECT_FALSE(parse(kAlertDocumentPath));
  EXPECT_EQ(document.titulo, "Aviso");
  EXPECT_FALSE(parse("actualizador_registros"));  // a folder
  // One line each, with the document's full path.
  const std::string folder = NarrowLow8(folder_.path());
  const std::string lines = testing::ReadBytes(log);
  const std::string expected[] = {
      ";DOCUMENTO_ILEGIBLE;" + folder + "\\actualizador_registros\\recibido.json;motivo=NO_ES_JSON;byte=1\r\n",
      ";DOCUMENTO_ILEGIBLE;" + folder + "\\actualizador_registros;motivo=NO_SE_PUEDE_LEER;err=5\r\n"};
  size_t at = 0;
  for (const std::string& line : expected) {
    at = lines.find(line, at);
    ASSERT_NE(at, std::string::npos) << lines;
  }
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 2) << lines;
}

}  // namespace
}  // namespace brivon
