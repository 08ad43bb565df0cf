// The alert preview program run on a served document: its pictures are probed where the
// geometry says each kind draws. The PNGs are kept under the build folder for people to look at.
#include <gtest/gtest.h>

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "alerts/model/gdiplus_owners.h"
#include "alerts/window/alert_layout.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "servers/loopback_http_server.h"
#include "solid_picture.h"
#include "support/test_env.h"

namespace brivon {
namespace {

using testing::HttpReply;
using testing::SolidBmp;

constexpr uint32_t kBackground = 0x203040;
constexpr uint32_t kTitleBand = 0x804020;
constexpr uint32_t kCloseBar = 0x0078D7;
constexpr uint32_t kGrid[] = {0xC00000, 0x00C000, 0x0000C0, 0xC0C000, 0x00C0C0};

HttpReply Reply(int status, std::string body, const std::string& type) {
  HttpReply reply;
  reply.status = status;
  reply.body = std::move(body);
  reply.contentType = type;
  return reply;
}

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

// The output goes to a file of its own per run: a finished run's file may stay open a moment longer.
ConsoleRun RunPreview(const std::vector<std::wstring>& args, const std::wstring& outputPrefix) {
  static int runs = 0;
  const std::wstring outputFile = outputPrefix + std::to_wstring(++runs) + L".txt";
  ConsoleRun run;
  std::wstring commandLine = L"\"" + PreviewExe() + L"\"";
  for (const std::wstring& arg : args) commandLine += L" \"" + arg + L"\"";
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  UniqueFile output(::CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!output) {
    run.output = "cannot create " + WideToUtf8(outputFile) + ", error " + std::to_string(::GetLastError());
    return run;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = output.get();
  startup.hStdError = output.get();
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info)) {
    run.output = "cannot start the preview, error " + std::to_string(::GetLastError());
    return run;
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  if (::WaitForSingleObject(process.get(), 120000) != WAIT_OBJECT_0) ::TerminateProcess(process.get(), 0xDEAD);
  ::GetExitCodeProcess(process.get(), &run.exitCode);
  output.reset();
  run.output = testing::ReadBytes(outputFile);
  return run;
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
    return RunPreview({folder_ / L"alertas.json", std::to_wstring(width), std::to_wstring(height), prefix},
                      folder_ / L"salida");
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
    // The author is told which picture gives nothing to draw.
    EXPECT_NE(run.output.find("picture not usable, its entry is painted without it: " + Url("/pagina.bmp")),
              std::string::npos)
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
    const ConsoleRun run = RunPreview(c.args, folder_ / L"salida");
    EXPECT_EQ(run.exitCode, c.exitCode) << c.name << "\n" << run.output;
    EXPECT_FALSE(testing::Exists(PngPath(prefix, 1))) << c.name;
    if (c.exitCode == 2) {
      EXPECT_NE(run.output.find("WIDTH"), std::string::npos) << c.name;
    }
  }
  ASSERT_TRUE(testing::WriteBytes(folder_ / L"roto.json", "{\"alertas\": ["));
  EXPECT_EQ(RunPreview({folder_ / L"roto.json", L"800", L"600", prefix}, folder_ / L"salida").exitCode, 1u);
  EXPECT_FALSE(testing::Exists(PngPath(prefix, 1)));
}

}  // namespace
}  // namespace brivon
