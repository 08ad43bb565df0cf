// The alert preview program run on a served document: its pictures are probed where the
// geometry says each kind draws, and its report names what the program ignores or refuses. The
// PNGs are kept under the build folder for people to look at.
#include <gtest/gtest.h>

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "alerts/model/alert_parser.h"
#include "alerts/model/gdiplus_owners.h"
#include "alerts/model/document_notes.h"
#include "alerts/window/alert_layout.h"
#include "alerts/window/preview_notes.h"
#include "alerts/window/remote_resources.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "servers/loopback_http_server.h"
#include "solid_picture.h"
#include "support/program_run.h"
#include "support/test_env.h"

namespace brivon {
namespace {

using testing::HttpReply;
using testing::Reply;
using testing::SolidBmp;

constexpr uint32_t kBackground = 0x203040;
constexpr uint32_t kTitleBand = 0x804020;
constexpr uint32_t kCloseBar = 0x0078D7;
constexpr uint32_t kGrid[] = {0xC00000, 0x00C000, 0x0000C0, 0xC0C000, 0x00C0C0};

std::wstring PreviewExe() { return testing::BuiltPath(BRIVON_TEST_PREVIEW_EXE, L"brivon_alert_preview.exe"); }
std::wstring ArtifactsFolder(const std::wstring& name) {
  // From the kit: the folder its runner made for this program.
  const std::wstring base = testing::KitRoot().empty() ? testing::HostPathToWindows(BRIVON_TEST_ARTIFACTS_DIR)
                                                       : std::filesystem::current_path().wstring();
  return base + L"\\preview\\" + name;
}

struct ConsoleRun {
  DWORD exitCode = STILL_ACTIVE;
  std::string output;  // stdout and stderr together
};

ConsoleRun RunPreview(const std::vector<std::wstring>& args) {
  ConsoleRun run;
  std::wstring commandLine = L"\"" + PreviewExe() + L"\"";
  for (const std::wstring& arg : args) commandLine += L" \"" + arg + L"\"";
  testing::RunCapturing(commandLine, &run.output, &run.exitCode);
  return run;
}

// The report's lines of a run that name what the program ignores or refuses, each ending in "\n".
std::string NoteLines(const std::string& output) {
  std::string lines;
  size_t at = 0;
  while (at < output.size()) {
    size_t end = output.find('\n', at);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("note: ", 0) == 0) lines += line + "\n";
    at = end + 1;
  }
  return lines;
}

std::string Entry(const std::string& texto, const std::string& fondo, const std::string& imagen,
                  const std::string& enlace) {
  return R"({"texto":")" + texto + R"(","color_fondo":")" + fondo + R"(","color_texto":"#FFFFFF","imagen":")" +
         imagen + R"(","enlace":")" + enlace + R"("})";
}

// One alert of every kind, the update included, and an entry whose picture is an HTML page.
class AlertWindowsPreview : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gdiplus_.started());
    for (size_t i = 0; i < 5; ++i) {
      const uint32_t c = kGrid[i];
      server_.Serve("/grid" + std::to_string(i) + ".bmp",
                    Reply(200, SolidBmp(800, 600, c >> 16, (c >> 8) & 0xFF, c & 0xFF), "image/bmp"));
    }
    server_.Serve("/ancho.bmp", Reply(200, SolidBmp(1000, 500, 0, 0, 200), "image/bmp"));
    server_.Serve("/unico.bmp", Reply(200, SolidBmp(800, 600, 200, 0, 200), "image/bmp"));
    server_.Serve("/pagina.bmp", Reply(200, "<html>no es una imagen</html>", "text/html"));
    server_.Serve("/terminos.rtf",
                  Reply(200, testing::ReadBytes(testing::SourcePath("tests/fixtures/alerts/terms.rtf")),
                            "application/rtf"));
    server_.Serve("/enorme.png",
                  Reply(200, testing::ReadBytes(testing::SourcePath("tests/fixtures/alerts/picture_30000x30000.png")),
                        "image/png"));
    server_.Serve("/portal.rtf", Reply(200, "<html>Inicie sesion</html>", "text/html"));
    // The update picture's built-in address.
    server_.Serve("/borrar/fotoactualizacion.png", Reply(200, SolidBmp(400, 300, 0, 160, 60), "image/bmp"));
    ASSERT_TRUE(server_.Start());

    std::string grid;
    for (size_t i = 0; i < 5; ++i) {
      grid += (i ? "," : "") + Entry("Oferta " + std::to_string(i + 1), "#FF8000",
                                     Url("/grid" + std::to_string(i) + ".bmp"), Url("/oferta"));
    }
    const std::string document =
        R"({"titulo":"Vista previa","color_fondo":"#203040","color_titulo_fondo":"#804020",)"
        R"("color_titulo_texto":"#FFFFFF","alertas":[)"
        R"({"tipo":"boton_multiple","columnas":"3","contenido":[)" + grid + "]}," +
        R"({"tipo":"boton_unico","contenido":[)" + Entry("Nueva version", "#00A000", Url("/unico.bmp"), Url("/u")) +
        "]}," + R"({"tipo":"solo_mensaje","contenido":[)" +
        Entry("Aviso", "#FFFF00", Url("/ancho.bmp"), Url("/s")) + "]}," +
        R"({"tipo":"documento_rtf","contenido":[{"texto":"Terminos","enlace":")" + Url("/terminos.rtf") +
        R"("}]},)" + R"({"tipo":"url_actualizar","contenido":[{"enlace":")" + Url("/Paquete.exe") + R"("}]},)" +
        R"({"tipo":"aviso_futuro","contenido":[]},)" + R"({"tipo":"solo_mensaje","contenido":[)" +
        Entry("Sin imagen", "#A000A0", Url("/pagina.bmp"), "") + "]}]}";
    ASSERT_TRUE(testing::WriteBytes(folder_ / L"alertas.json", document));
  }

  std::string Url(const std::string& path) { return WideToUtf8(server_.Url(path)); }

  // The PNGs of a run at this size, in the artifacts folder, after a fresh run.
  ConsoleRun Preview(int width, int height, std::wstring& prefix) {
    const std::wstring folder = ArtifactsFolder(std::to_wstring(width) + L"x" + std::to_wstring(height));
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(folder), ec);
    std::filesystem::create_directories(std::filesystem::path(folder), ec);
    prefix = folder + L"\\alerta";
    return RunPreview({folder_ / L"alertas.json", std::to_wstring(width), std::to_wstring(height), prefix});
  }

  GdiplusSession gdiplus_;
  testing::TempFolder folder_;
  testing::LoopbackHttpServer server_{testing::BuiltInPort()};
};

class Png {
 public:
  explicit Png(const std::wstring& path) : bitmap_(Gdiplus::Bitmap::FromFile(path.c_str())) {}
  bool ok() const { return bitmap_ && bitmap_->GetLastStatus() == Gdiplus::Ok; }
  int width() const { return static_cast<int>(bitmap_->GetWidth()); }
  int height() const { return static_cast<int>(bitmap_->GetHeight()); }
  uint32_t At(int x, int y) const {
    Gdiplus::Color color;
    bitmap_->GetPixel(x, y, &color);
    return color.GetValue() & 0xFFFFFF;
  }
  ::testing::AssertionResult Is(int x, int y, uint32_t expected) const {
    const uint32_t got = At(x, y);
    for (int shift = 0; shift < 24; shift += 8) {
      if (std::abs(static_cast<int>((got >> shift) & 0xFF) - static_cast<int>((expected >> shift) & 0xFF)) > 3) {
        return ::testing::AssertionFailure() << "at " << x << "," << y << " got " << std::hex << got << " expected "
                                             << expected;
      }
    }
    return ::testing::AssertionSuccess();
  }
  // Pixels in the rectangle that are not `background`: something was drawn on it.
  int CountOtherThan(int x0, int y0, int x1, int y1, uint32_t background) const {
    int count = 0;
    for (int y = y0; y < y1; y += 2) {
      for (int x = x0; x < x1; x += 2) count += At(x, y) != background;
    }
    return count;
  }

 private:
  UniqueBitmap bitmap_;
};

std::wstring PngPath(const std::wstring& prefix, int index) { return prefix + L"_" + std::to_wstring(index) + L".png"; }

TEST_F(AlertWindowsPreview, OnePictureOfEveryAlertAtTheScreenSize) {
  struct Size {
    int w, h;
  } sizes[] = {{1920, 1080}, {1280, 720}};
  for (const Size& size : sizes) {
    std::wstring prefix;
    const ConsoleRun run = Preview(size.w, size.h, prefix);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    for (int i = 1; i <= 7; ++i) {
      Png png(PngPath(prefix, i));
      ASSERT_TRUE(png.ok()) << i << " at " << size.w << "x" << size.h << "\n" << run.output;
      EXPECT_EQ(png.width(), size.w);
      EXPECT_EQ(png.height(), size.h);
      EXPECT_TRUE(png.Is(5, 5, kTitleBand)) << i;
      EXPECT_TRUE(png.Is(size.w - 5, size.h - 5, i == 5 ? kBackground : kCloseBar)) << i;
    }
    EXPECT_FALSE(testing::Exists(PngPath(prefix, 8)));
    // The author is told what is not shown, and why; nothing else of a sound document.
    EXPECT_EQ(NoteLines(run.output),
              "note: alert 6, \"tipo\": \"aviso_futuro\" is no kind the program knows (boton_multiple, "
              "boton_unico, solo_mensaje, documento_rtf, url_actualizar): only the title band and the close bar are "
              "shown\n"
              "note: alert 7, entry 1, \"imagen\": picture refused, not a picture the program reads (PNG, JPEG, GIF, "
              "BMP, TIFF): it begins with \"<html>no es una \": the entry is drawn without it and is not clickable: " +
                  Url("/pagina.bmp") + "\n")
        << run.output;
  }
}

TEST_F(AlertWindowsPreview, EveryKindIsPaintedWhereTheWindowPaintsIt) {
  std::wstring prefix;
  const ConsoleRun run = Preview(1920, 1080, prefix);
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  const AlertLayout layout = MakeAlertLayout(1920, 1080);

  Png grid(PngPath(prefix, 1));
  const GridGeometry cells = GridFor(layout, 5, 3);
  for (size_t i = 0; i < 5; ++i) {
    const EntryPlacement place = GridCellFor(layout, cells, i, 800, 600);
    const PixelRect& p = place.picture;
    EXPECT_TRUE(grid.Is(place.fill.x + 2, place.fill.y + 2, 0xFF8000)) << i;
    EXPECT_TRUE(grid.Is(p.x + p.w / 2, p.y + p.h / 2, kGrid[i])) << i;
    EXPECT_TRUE(grid.Is(p.x + 2, p.y + p.h - 3, kGrid[i])) << i;
    EXPECT_TRUE(grid.Is(p.x - 3, p.y + p.h / 2, kBackground)) << i;
  }
  EXPECT_NE(run.output.find("entry 5: picture at 676, 605, 566 x 425 opens " + Url("/oferta")), std::string::npos)
      << run.output;

  Png unico(PngPath(prefix, 2));
  EXPECT_TRUE(unico.Is(960, 1000, 0xC800C8));  // a picture about 1200 x 900 ends at the bar
  EXPECT_TRUE(unico.Is(200, 500, kBackground));

  Png solo(PngPath(prefix, 3));
  EXPECT_TRUE(solo.Is(62, 102, 0xFFFF00));
  EXPECT_TRUE(solo.Is(62, 132, 0x0000C8));
  EXPECT_TRUE(solo.Is(1857, 1027, 0x0000C8));
  EXPECT_TRUE(solo.Is(58, 500, kBackground));

  Png terms(PngPath(prefix, 4));
  EXPECT_TRUE(terms.Is(1800, 1000, 0xFFFFFF));  // the box
  EXPECT_TRUE(terms.Is(25, 1045, 0xE1E1E1));     // the disabled button
  EXPECT_TRUE(terms.Is(1800, 1055, kCloseBar));  // the bar beside it
  EXPECT_GT(terms.CountOtherThan(22, 102, 1898, 200, 0xFFFFFF), 50) << "the terms document is not drawn";

  Png update(PngPath(prefix, 5));
  const PixelRect picture = UpdatePictureFor(layout, 400, 300);
  EXPECT_TRUE(update.Is(picture.x + picture.w / 2, picture.y + picture.h / 2, 0x00A03C));
  EXPECT_TRUE(update.Is(picture.x - 3, picture.y + 10, kBackground));
  EXPECT_TRUE(update.Is(960, 1060, kBackground));  // no close bar

  Png other(PngPath(prefix, 6));
  EXPECT_TRUE(other.Is(960, 500, kBackground));

  Png unusable(PngPath(prefix, 7));
  EXPECT_TRUE(unusable.Is(22, 102, 0xA000A0));  // text on its colour over the whole content area
  EXPECT_TRUE(unusable.Is(1897, 1027, 0xA000A0));
}

TEST_F(AlertWindowsPreview, WrongArgumentsWriteNothing) {
  const std::wstring prefix = folder_ / L"nada";
  const std::wstring document = folder_ / L"alertas.json";
  struct Case {
    const char* name;
    std::vector<std::wstring> args;
    DWORD exitCode;
  } cases[] = {
      {"no arguments", {}, 2},
      {"no prefix", {document, L"1920", L"1080"}, 2},
      {"zero width", {document, L"0", L"1080", prefix}, 2},
      {"size with letters", {document, L"1920px", L"1080", prefix}, 2},
      {"too large", {document, L"20000", L"1080", prefix}, 2},
      {"missing document", {folder_ / L"no_existe.json", L"1920", L"1080", prefix}, 1},
  };
  for (const Case& c : cases) {
    const ConsoleRun run = RunPreview(c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.name << "\n" << run.output;
    EXPECT_FALSE(testing::Exists(PngPath(prefix, 1))) << c.name;
    if (c.exitCode == 2) {
      EXPECT_NE(run.output.find("WIDTH"), std::string::npos) << c.name;
    }
  }
  ASSERT_TRUE(testing::WriteBytes(folder_ / L"roto.json", "{\"alertas\": ["));
  EXPECT_EQ(RunPreview({folder_ / L"roto.json", L"800", L"600", prefix}).exitCode, 1u);
  EXPECT_FALSE(testing::Exists(PngPath(prefix, 1)));
}

// A document with a fault of each sort: the report names each, where it is and what the program
// does instead, and the pictures are still written.
TEST_F(AlertWindowsPreview, TheReportNamesWhatTheProgramIgnoresOrRefuses) {
  const std::string document =
      R"({"titulo":"Faltas","colour_fondo":"#000000","alertas":[)"
      R"({"tipo":"boton_multiple","columnas":3,"contenido":[)"
      R"({"texto":"a","imagen":")" + Url("/enorme.png") + R"(","enlace":"javascript:abrir"},)"
      R"({"texto":"b","imagen":")" + Url("/grid0.bmp") + R"(","color_fondo":"rojo","enlace":")" + Url("/oferta") +
      R"("}]},)"
      R"({"tipo":"boton_unico","contenido":[{"texto":"uno","imagen":")" + Url("/pagina.bmp") +
      R"("},{"texto":"dos"}]},)"
      R"({"tipo":"documento_rtf","contenido":[{"enlace":")" + Url("/portal.rtf") + R"("}]},)"
      R"({"tipo":"Solo_Mensaje","contenido":[{"texto":"x"}]}]})";
  ASSERT_TRUE(testing::WriteBytes(folder_ / L"faltas.json", document));
  const std::wstring prefix = folder_ / L"faltas";
  const ConsoleRun run = RunPreview({folder_ / L"faltas.json", L"640", L"480", prefix});
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  for (int i = 1; i <= 4; ++i) EXPECT_TRUE(testing::Exists(PngPath(prefix, i))) << i;
  EXPECT_EQ(NoteLines(run.output),
            "note: document, \"colour_fondo\": a key the program does not read: ignored (did you mean "
            "\"color_fondo\"?)\n"
            "note: alert 1, \"columnas\": is a number, not a text: read as 1 column (write it as a text: \"3\")\n"
            "note: alert 1, entry 1, \"imagen\": picture refused, 30000 x 30000 is more than the 16,777,216 pixels "
            "one picture may have: the entry is drawn without it and is not clickable: " +
                Url("/enorme.png") +
                "\n"
                "note: alert 1, entry 1, \"enlace\": no well-formed http:// or https:// address: a click opens "
                "nothing: javascript:abrir\n"
                "note: alert 1, entry 2, \"color_fondo\": \"rojo\" is no #RRGGBB colour: drawn as #FFFFFF\n"
                "note: alert 2, entry 1, \"imagen\": picture refused, not a picture the program reads (PNG, JPEG, "
                "GIF, BMP, TIFF): it begins with \"<html>no es una \": the entry is drawn without it and is not "
                "clickable: " +
                Url("/pagina.bmp") +
                "\n"
                "note: alert 2, entry 2: not used: a \"boton_unico\" alert uses its first entry alone\n"
                "note: alert 3, entry 1, \"enlace\": terms document refused, no RTF document (it must begin with "
                "{\\rtf), 26 bytes: the box says the terms could not be loaded, and they cannot be accepted: " +
                Url("/portal.rtf") +
                "\n"
                "note: alert 4, \"tipo\": \"Solo_Mensaje\" is no kind the program knows (did you mean "
                "\"solo_mensaje\"? the match is exact): only the title band and the close bar are shown\n")
      << run.output;
}

// The notes on a document's text as the parser read it, all on one string.
std::string NotesOf(const std::string& text) {
  AlertDocument document;
  const DocumentReading reading = ParseAlertText(text, document, {});
  std::string lines;
  for (const DocumentNote& note : DocumentNotes(text, reading)) lines += DocumentNoteLine(note) + "\n";
  return lines;
}

TEST(PreviewNotesTest, WhatTheProgramIgnoresOrReadsOtherwiseIsNamedWhereItIs) {
  struct Case {
    const char* name;
    std::string json;
    std::string notes;
  } cases[] = {
      {"every key the program reads, each as it should be",
       R"({"titulo":"T","color_fondo":"#102030","color_titulo_fondo":"#ff8000","color_titulo_texto":"#FFFFFF",)"
       R"("alertas":[{"tipo":"boton_multiple","columnas":"2","contenido":[{"texto":"a","imagen":"http://h/a.png",)"
       R"("enlace":"http://h/","color_fondo":"#000000","color_texto":"#FFFFFF"},{"texto":"b"}]},)"
       R"({"tipo":"boton_unico","contenido":[{"texto":"c"}]},{"tipo":"solo_mensaje","contenido":[{"texto":"d"}]},)"
       R"({"tipo":"documento_rtf","contenido":[{"enlace":"http://h/t.rtf"}]},)"
       R"({"tipo":"url_actualizar","contenido":[{"enlace":"http://h/p.exe"}]}]})",
       ""},
      {"no alerts at all", "{}", ""},
      {"a key not read, at every level",
       R"({"titulos":"x","alertas":[{"tipo":"solo_mensaje","prioridad":1,"contenido":[{"texto":"a","link":"x"}]}]})",
       "note: document, \"titulos\": a key the program does not read: ignored (did you mean \"titulo\"?)\n"
       "note: alert 1, \"prioridad\": a key the program does not read: ignored\n"
       "note: alert 1, entry 1, \"link\": a key the program does not read: ignored\n"},
      {"keys in another case", R"({"Titulo":"x","ALERTAS":[]})",
       "note: document, \"Titulo\": a key the program does not read: ignored (did you mean \"titulo\"?)\n"
       "note: document, \"ALERTAS\": a key the program does not read: ignored (did you mean \"alertas\"?)\n"},
      {"a key of another level",
       R"({"tipo":"x","alertas":[{"tipo":"solo_mensaje","color_fondo":"#000000","contenido":[{"columnas":"2"}]}]})",
       "note: document, \"tipo\": a key of an alert, not of the document: ignored\n"
       "note: alert 1, \"color_fondo\": a key of the document or an entry, not of an alert: ignored\n"
       "note: alert 1, entry 1, \"columnas\": a key of an alert, not of an entry: ignored\n"},
      {"texts of another type",
       R"({"titulo":7,"alertas":[{"tipo":"solo_mensaje","contenido":[{"texto":null,"imagen":false,"enlace":[]}]}]})",
       "note: document, \"titulo\": is a number, not a text: counts as absent, the title band says \"Alertas\"\n"
       "note: alert 1, entry 1, \"texto\": is null, not a text: counts as absent\n"
       "note: alert 1, entry 1, \"imagen\": is true or false, not a text: counts as absent\n"
       "note: alert 1, entry 1, \"enlace\": is a list, not a text: counts as absent\n"},
      {"a kind the program does not know", R"({"alertas":[{"tipo":"aviso_futuro","contenido":[{"texto":"a"}]}]})",
       "note: alert 1, \"tipo\": \"aviso_futuro\" is no kind the program knows (boton_multiple, boton_unico, "
       "solo_mensaje, documento_rtf, url_actualizar): only the title band and the close bar are shown\n"},
      {"a kind in another case", R"({"alertas":[{"tipo":"Boton_Unico","contenido":[{"texto":"a"}]}]})",
       "note: alert 1, \"tipo\": \"Boton_Unico\" is no kind the program knows (did you mean \"boton_unico\"? the "
       "match is exact): only the title band and the close bar are shown\n"},
      {"no kind", R"({"alertas":[{"contenido":[{"texto":"a"}]},{"tipo":3}]})",
       "note: alert 1, \"tipo\": missing: an alert of no kind shows only its title band and close bar\n"
       "note: alert 2, \"tipo\": is a number, not a text: no kind: only the title band and the close bar are "
       "shown\n"},
      {"entries past the first of a kind that uses one",
       R"({"alertas":[{"tipo":"boton_unico","contenido":[{"texto":"a"},{"imagen":"http://h/b.png"},{"texto":"c"}]},)"
       R"({"tipo":"documento_rtf","contenido":[{"enlace":"http://h/t.rtf"},{"enlace":"http://h/u.rtf"}]}]})",
       "note: alert 1, entry 2: not used: a \"boton_unico\" alert uses its first entry alone (its picture is "
       "fetched all the same)\n"
       "note: alert 1, entry 3: not used: a \"boton_unico\" alert uses its first entry alone\n"
       "note: alert 2, entry 2: not used: a \"documento_rtf\" alert uses its first entry alone\n"},
      {"colours not #RRGGBB",
       R"({"color_fondo":"rojo","color_titulo_fondo":"#FFF","color_titulo_texto":"#12G456","alertas":[)"
       R"({"tipo":"solo_mensaje","contenido":[{"color_fondo":" #000000","color_texto":255}]}]})",
       "note: document, \"color_fondo\": \"rojo\" is no #RRGGBB colour: drawn as #FFFFFF\n"
       "note: document, \"color_titulo_fondo\": \"#FFF\" is no #RRGGBB colour: drawn as #FFFFFF\n"
       "note: document, \"color_titulo_texto\": \"#12G456\" holds a character that is no hexadecimal digit, "
       "counted as 0: drawn as #120456\n"
       "note: alert 1, entry 1, \"color_fondo\": \" #000000\" is no #RRGGBB colour: drawn as #FFFFFF\n"
       "note: alert 1, entry 1, \"color_texto\": is a number, not a text: counts as absent, drawn as #000000\n"},
      {"values quoted on one line, a long one cut between letters",
       "{\"color_fondo\":\"rojo\\nvivo\",\"color_titulo_fondo\":\"" + std::string(59, 'a') + "\u00e9" +
           std::string(20, 'b') + "\"}",
       "note: document, \"color_fondo\": \"rojo vivo\" is no #RRGGBB colour: drawn as #FFFFFF\n"
       "note: document, \"color_titulo_fondo\": \"" + std::string(59, 'a') +
           "...\" is no #RRGGBB colour: drawn as #FFFFFF\n"},
      {"columns written otherwise than read",
       R"({"alertas":[{"tipo":"boton_multiple","columnas":"tres","contenido":[{},{}]},)"
       R"({"tipo":"boton_multiple","columnas":3,"contenido":[{},{},{}]},)"
       R"({"tipo":"boton_multiple","columnas":" 2","contenido":[{},{}]},)"
       R"({"tipo":"boton_multiple","columnas":"0","contenido":[{},{}]},)"
       R"({"tipo":"boton_multiple","columnas":"99999999999","contenido":[{},{}]},)"
       R"({"tipo":"boton_multiple","columnas":"02","contenido":[{},{}]},)"
       R"({"tipo":"boton_multiple","columnas":"5","contenido":[{},{}]},)"
       R"({"tipo":"solo_mensaje","columnas":"2","contenido":[{}]}]})",
       "note: alert 1, \"columnas\": \"tres\" is read as 1 column\n"
       "note: alert 2, \"columnas\": is a number, not a text: read as 1 column (write it as a text: \"3\")\n"
       "note: alert 3, \"columnas\": \" 2\" is read as 2 columns\n"
       "note: alert 4, \"columnas\": \"0\" is read as 1 column\n"
       "note: alert 5, \"columnas\": \"99999999999\" is read as 1 column\n"
       "note: alert 7, \"columnas\": 5 columns for 2 entries: drawn as 2 columns\n"
       "note: alert 8, \"columnas\": only a boton_multiple alert has columns: ignored\n"},
      {"no entries, or entries that are no list or no objects",
       R"({"alertas":[{"tipo":"solo_mensaje"},{"tipo":"boton_unico","contenido":[]},)"
       R"({"tipo":"boton_unico","contenido":{"texto":"a"}},)"
       R"({"tipo":"boton_multiple","contenido":["a",{"texto":"b"}]}]})",
       "note: alert 1, \"contenido\": missing: the alert has no entries\n"
       "note: alert 2, \"contenido\": holds no entry\n"
       "note: alert 3, \"contenido\": is an object, not a list: the alert has no entries\n"
       "note: alert 4, \"contenido\": its element 1 is a text, not an object: skipped (the entries here are "
       "numbered without it)\n"},
      {"alerts that are no objects are not counted",
       R"({"alertas":[1,{"tipo":"solo_mensaje","contenido":[{"texto":"a","x":1}]}]})",
       "note: document, \"alertas\": its element 1 is a number, not an object: skipped (the alerts here are "
       "numbered without it)\n"
       "note: alert 1, entry 1, \"x\": a key the program does not read: ignored\n"},
      {"alerts that are no list", R"({"alertas":{"tipo":"solo_mensaje"}})",
       "note: document, \"alertas\": is an object, not a list: the document is read as one without alerts\n"},
      {"a document in Windows-1252",
       "{\"titulo\":\"Informaci\xF3n\",\"alertas\":[{\"tipo\":\"solo_mensaje\",\"contenido\":[{\"texto\":\"a\"}]}]}",
       "note: document: not UTF-8: read as Windows-1252, its texts and addresses too\n"},
      {"text after the document", R"({"alertas":[]}  {"alertas":[]})",
       "note: document: text after its JSON value, from byte 17, is never read\n"},
      {"not JSON", R"({"titulo": 'Aviso'})",
       "note: document: not JSON: reading stopped at byte 12, nothing is shown\n"},
      {"JSON, but no object", R"([{"tipo":"solo_mensaje"}])",
       "note: document: JSON, but not an object: nothing is read from it, nothing is shown\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(NotesOf(c.json), c.notes) << c.name;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes += static_cast<char>(v);
  return bytes;
}

TEST(PreviewNotesTest, EachPictureRefusedSaysWhy) {
  const std::string png30000 = Bytes({0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0,
                                      0x75, 0x30, 0, 0, 0x75, 0x30});
  const std::string bmp = testing::SolidBmp(100, 100, 0, 0, 0);
  PictureBudget full;
  PictureBudget fewPixels;
  fewPixels.pixelsLeft = 5000;
  PictureBudget fewBytes;
  fewBytes.bytesLeft = 1000;
  struct Case {
    const char* name;
    std::string body;
    PictureBudget budget;
    std::string why;  // empty: admitted
  } cases[] = {
      {"nothing arrived", "", full,
       "not fetched within the 15 s the pictures have together (no answer, a broken or empty transfer, or a body "
       "over 33,554,432 bytes)"},
      {"an error page", "<html>no es una imagen</html>", full,
       "not a picture the program reads (PNG, JPEG, GIF, BMP, TIFF): it begins with \"<html>no es una \""},
      {"a PNG cut short", png30000.substr(0, 20), full,
       "its size cannot be read from its header (cut short, a size of 0, a JPEG that gives its size after its "
       "pixels, a TIFF that names a tag twice)"},
      {"larger than one picture may be", png30000, full,
       "30000 x 30000 is more than the 16,777,216 pixels one picture may have"},
      {"past the document's pixels", bmp, fewPixels,
       "100 x 100 is more than the 5,000 pixels left of the 50,331,648 the document's pictures may have together"},
      {"past the document's bytes", bmp, fewBytes,
       "its 30,054 bytes are more than the 1,000 left of the 67,108,864 bytes the document's pictures may take "
       "together"},
      {"admitted", bmp, full, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PictureRefusal(c.body, c.budget), c.why) << c.name;
    // The reason stands for the program's own check.
    PictureBudget budget = c.budget;
    PictureSize declared;
    EXPECT_EQ(AdmitPicture(c.body, &budget, declared), c.why.empty()) << c.name;
  }
  const PictureSize gif{30, 20, 10, 6};
  EXPECT_EQ(DecodeRefusal(gif, false, 0, 0), "it does not decode");
  EXPECT_EQ(DecodeRefusal(gif, true, 40, 20), "it decodes to 40 x 20 where its header says 30 x 20");
  EXPECT_EQ(DocumentNoteLine(PictureNote(2, 3, "http://h/a.png", "it does not decode")),
            "note: alert 2, entry 3, \"imagen\": picture refused, it does not decode: the entry is drawn without it "
            "and is not clickable: http://h/a.png");
}

TEST(PreviewNotesTest, LinksAClickNeverOpensAndTermsRefused) {
  AlertDocument document;
  ParseAlertText(
      R"({"alertas":[{"tipo":"boton_multiple","contenido":[{"imagen":"http://h/a.png","enlace":"javascript:abrir"},)"
      R"({"imagen":"http://h/b.png","enlace":"file:///C:/Windows/notepad.exe"},)"
      R"({"imagen":"http://h/c.png","enlace":"https://h/c"},{"texto":"sin imagen","enlace":"https://h/d"},)"
      R"({"imagen":"http://h/e.png","enlace":"http://h/con espacio"}]},)"
      R"({"tipo":"boton_unico","contenido":[{"imagen":"http://h/a.png","enlace":"https://h/"},)"
      R"({"imagen":"http://h/b.png","enlace":"javascript:x"}]},)"
      R"({"tipo":"solo_mensaje","contenido":[{"imagen":"http://h/a.png","enlace":"ftp://h/a"}]},)"
      R"({"tipo":"documento_rtf","contenido":[{"enlace":"ftp://h/terminos.rtf"}]},)"
      R"({"tipo":"url_actualizar","contenido":[{"enlace":"ftp://h/Paquete.exe"}]}]})",
      document, {});
  std::string lines;
  for (const DocumentNote& note : LinkNotes(document)) lines += DocumentNoteLine(note) + "\n";
  EXPECT_EQ(lines,
            "note: alert 1, entry 1, \"enlace\": no well-formed http:// or https:// address: a click opens nothing: "
            "javascript:abrir\n"
            "note: alert 1, entry 2, \"enlace\": no well-formed http:// or https:// address: a click opens nothing: "
            "file:///C:/Windows/notepad.exe\n"
            "note: alert 1, entry 4, \"enlace\": the entry has no picture (\"imagen\") to click: never opened\n"
            "note: alert 1, entry 5, \"enlace\": no well-formed http:// or https:// address: a click opens nothing: "
            "http://h/con espacio\n"
            "note: alert 3, entry 1, \"enlace\": no well-formed http:// or https:// address: a click opens nothing: "
            "ftp://h/a\n");

  HttpGetOutcome outcome;
  outcome.error = 12029;
  outcome.httpStatus = 404;
  const std::string then = ": the box says the terms could not be loaded, and they cannot be accepted: http://h/t.rtf";
  struct Case {
    TermsRefusal why;
    std::string text;
  } cases[] = {
      {TermsRefusal::NotFetched, "terms document refused, not fetched whole (error 12029)" + then},
      {TermsRefusal::Status, "terms document refused, its answer has status 404" + then},
      {TermsRefusal::NotRtf, "terms document refused, no RTF document (it must begin with {\\rtf), 1,500 bytes" + then},
      {TermsRefusal::BadEnd,
       "terms document refused, its top-level group does not close at its last byte (cut short, or more after it)" +
           then},
      {TermsRefusal::NoText, "terms document refused, it shows no text" + then},
      {TermsRefusal::NotLoaded, "terms document refused, the box did not take it whole" + then},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DocumentNoteLine(TermsNote(4, "http://h/t.rtf", c.why, outcome, 1500)),
              "note: alert 4, entry 1, \"enlace\": " + c.text);
  }
  EXPECT_EQ(DocumentNoteLine(TermsNote(4, "", TermsRefusal::NotFetched, outcome, 0)),
            "note: alert 4, entry 1, \"enlace\": empty: no terms document is fetched, the box stays empty and the "
            "terms cannot be accepted");
}

}  // namespace
}  // namespace brivon
