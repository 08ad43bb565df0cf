// The painters drawn into a 1920 x 1080 bitmap and probed at a few pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "alerts/model/alert_parser.h"
#include "alerts/model/gdiplus_owners.h"
#include "alerts/window/alert_layout.h"
#include "alerts/window/alert_painting.h"
#include "alerts/window/alert_window.h"
#include "alerts/window/remote_resources.h"
#include "alerts/window/scaled_pictures.h"
#include "alerts/window/text_drawing.h"
#include "common/unique_handle.h"
#include "support/alert_window_driver.h"

namespace brivon {
namespace {

constexpr Gdiplus::ARGB kBackground = 0xFF203040;
constexpr Gdiplus::ARGB kTitleBand = 0xFF804020;

UniqueBitmap SolidPicture(int w, int h, Gdiplus::ARGB color) {
  UniqueBitmap picture(new Gdiplus::Bitmap(w, h, PixelFormat32bppARGB));
  Gdiplus::Graphics graphics(picture.get());
  graphics.Clear(Gdiplus::Color(color));
  return picture;
}

AlertItem Entry(const std::string& fondo, UniqueBitmap picture = nullptr, const std::string& texto = "Oferta") {
  AlertItem item;
  item.texto = texto;
  item.enlace = "http://127.0.0.1/x";
  item.color_fondo = fondo;
  item.color_texto = "#000000";
  item.image = std::move(picture);
  return item;
}

class AlertWindowsPainting : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gdiplus_.started());
    document_.titulo = "Aviso importante";
    document_.color_fondo = "#203040";
    document_.color_titulo_fondo = "#804020";
    document_.color_titulo_texto = "#FFFFFF";
    canvas_.reset(new Gdiplus::Bitmap(1920, 1080, PixelFormat32bppARGB));
  }

  void Paint(Alert& alert) {
    Gdiplus::Graphics graphics(canvas_.get());
    graphics.Clear(Gdiplus::Color(0xFF000000));
    PaintAlert(graphics, MakeAlertLayout(1920, 1080), document_, &alert);
  }

  ::testing::AssertionResult ColorAt(int x, int y, Gdiplus::ARGB expected) {
    Gdiplus::Color color;
    canvas_->GetPixel(x, y, &color);
    const Gdiplus::ARGB got = color.GetValue();
    if (testing::ColoursNear(got, expected, 3)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "at " << x << "," << y << " got " << std::hex << got << " expected "
                                         << expected;
  }

  GdiplusSession gdiplus_;
  AlertDocument document_;
  UniqueBitmap canvas_;
};

TEST_F(AlertWindowsPainting, FrameAndCloseBarForEveryKindButTheUpdate) {
  struct Case {
    const char* tipo;
    bool closeBar;
  } cases[] = {{"boton_multiple", true}, {"boton_unico", true}, {"solo_mensaje", true},
               {"documento_rtf", true},  {"Desconocido", true}, {"url_actualizar", false}};
  for (const Case& c : cases) {
    Alert alert;
    alert.tipo = c.tipo;
    alert.contenido.push_back(Entry("#00FF00"));
    Paint(alert);
    EXPECT_TRUE(ColorAt(3, 3, kTitleBand)) << c.tipo;
    EXPECT_TRUE(ColorAt(1916, 76, kTitleBand)) << c.tipo;
    EXPECT_TRUE(ColorAt(3, 90, kBackground)) << c.tipo;  // between the title band and the content
    EXPECT_TRUE(ColorAt(3, 1031, c.closeBar ? kCloseBarColor : kBackground)) << c.tipo;
    EXPECT_TRUE(ColorAt(1916, 1078, c.closeBar ? kCloseBarColor : kBackground)) << c.tipo;
    EXPECT_TRUE(ColorAt(3, 1028, kBackground)) << c.tipo;  // one row above the bar
  }
}

TEST_F(AlertWindowsPainting, GridOfFiveInThreeColumns) {
  const Gdiplus::ARGB pictures[] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00, 0xFF00FFFF};
  Alert alert;
  alert.tipo = "boton_multiple";
  alert.columnas = 3;
  for (Gdiplus::ARGB color : pictures) alert.contenido.push_back(Entry("#ff8000", SolidPicture(800, 600, color)));
  Paint(alert);

  const RECT& fifth = alert.contenido[4].hitRect;
  EXPECT_EQ(fifth.left, 676);
  EXPECT_EQ(fifth.top, 605);
  EXPECT_EQ(fifth.right, 1242);
  EXPECT_EQ(fifth.bottom, 1030);
  EXPECT_TRUE(ColorAt(678, 607, pictures[4]));
  EXPECT_TRUE(ColorAt(1239, 1027, pictures[4]));
  EXPECT_TRUE(ColorAt(674, 800, kBackground));  // beside the scaled picture, inside the cell
  EXPECT_TRUE(ColorAt(655, 577, 0xFFFF8000));   // the entry's band, lower-case colour digits
  EXPECT_TRUE(ColorAt(653, 575, 0xFFFF8000));   // the fifth band is 653, 575, 613 x 30
  EXPECT_TRUE(ColorAt(1265, 604, 0xFFFF8000));
  EXPECT_TRUE(ColorAt(652, 590, kBackground));
  EXPECT_TRUE(ColorAt(1266, 590, kBackground));
  EXPECT_TRUE(ColorAt(700, 574, kBackground));  // the gap between the rows
  EXPECT_TRUE(ColorAt(643, 300, kBackground));  // the gap between two cells
  for (size_t i = 0; i < 5; ++i) {
    const RECT& r = alert.contenido[i].hitRect;
    EXPECT_TRUE(ColorAt((r.left + r.right) / 2, (r.top + r.bottom) / 2, pictures[i])) << i;
  }
  // Third column of the first row, second row starts again at the left.
  EXPECT_EQ(alert.contenido[2].hitRect.top, 130);
  EXPECT_EQ(alert.contenido[3].hitRect.top, 605);
  EXPECT_LT(alert.contenido[3].hitRect.left, alert.contenido[0].hitRect.right);
}

TEST_F(AlertWindowsPainting, SoloMensajeWithAWidePictureAndWithoutOne) {
  Alert alert;
  alert.tipo = "solo_mensaje";
  alert.contenido.push_back(Entry("#FFFF00", SolidPicture(1000, 500, 0xFF0000FF)));
  Paint(alert);
  EXPECT_TRUE(ColorAt(62, 102, 0xFFFFFF00));   // text band
  EXPECT_TRUE(ColorAt(62, 132, 0xFF0000FF));   // picture
  EXPECT_TRUE(ColorAt(1857, 1027, 0xFF0000FF));
  EXPECT_TRUE(ColorAt(58, 500, kBackground));
  EXPECT_TRUE(ColorAt(1862, 500, kBackground));
  const RECT& hit = alert.contenido[0].hitRect;
  EXPECT_EQ(hit.left, 60);
  EXPECT_EQ(hit.top, 130);
  EXPECT_EQ(hit.right, 1860);
  EXPECT_EQ(hit.bottom, 1030);

  alert.contenido[0].image.reset();
  Paint(alert);
  EXPECT_TRUE(ColorAt(22, 102, 0xFFFFFF00));
  EXPECT_TRUE(ColorAt(1897, 1027, 0xFFFFFF00));
  EXPECT_TRUE(ColorAt(18, 500, kBackground));
  EXPECT_EQ(alert.contenido[0].hitRect.right, 0);

  // Enlarged: 37 x 23 comes to 1447 x 900 in every build.
  alert.contenido[0].image = SolidPicture(37, 23, 0xFF0000FF);
  Paint(alert);
  const RECT& small = alert.contenido[0].hitRect;
  EXPECT_TRUE(small.left == 236 && small.top == 130 && small.right == 1683 && small.bottom == 1030)
      << small.left << "," << small.top << "," << small.right << "," << small.bottom;
  EXPECT_TRUE(ColorAt(960, 580, 0xFF0000FF));
}

TEST_F(AlertWindowsPainting, UndrawablePictureIsNotClickable) {
  Alert alert;
  alert.tipo = "boton_multiple";
  alert.contenido.push_back(Entry("#00FF00", BitmapFromBytes("<html>no picture</html>")));
  alert.contenido[0].hitRect = RECT{1, 2, 3, 4};  // left over from an earlier paint
  Paint(alert);
  const RECT& hit = alert.contenido[0].hitRect;
  EXPECT_EQ(hit.left | hit.top | hit.right | hit.bottom, 0);
  EXPECT_TRUE(ColorAt(22, 102, 0xFF00FF00));
  EXPECT_TRUE(ColorAt(960, 600, kBackground));
}

TEST_F(AlertWindowsPainting, BotonUnicoWithShortAndOverlongTexts) {
  Alert alert;
  alert.tipo = "boton_unico";
  alert.contenido.push_back(Entry("#00FF00", SolidPicture(800, 600, 0xFFFF0000), "Nueva version"));
  Paint(alert);
  float line = 0;
  {
    Gdiplus::Graphics graphics(canvas_.get());
    CenteredTextMeasure measure(26.0f);
    line = measure.Height(graphics, L"Nueva version", 1880.0f, 930.0f);
  }
  ASSERT_GT(line, 10.0f);
  RECT hit = alert.contenido[0].hitRect;
  const int expectedW = static_cast<int>(std::lround((930.0f - line) * 800.0f / 600.0f));
  EXPECT_NEAR(hit.right - hit.left, expectedW, 1);
  EXPECT_EQ(hit.left, (1920 - (hit.right - hit.left)) / 2);
  EXPECT_LE(hit.bottom, 1030);
  EXPECT_TRUE(ColorAt((hit.left + hit.right) / 2, (hit.top + hit.bottom) / 2, 0xFFFF0000));
  EXPECT_TRUE(ColorAt(hit.left + 2, 102, 0xFF00FF00));  // the text band above the picture
  EXPECT_TRUE(ColorAt(hit.left - 3, 500, kBackground));

  std::string overlong;
  for (int i = 0; i < 3000; ++i) overlong += "palabra ";
  alert.contenido[0].texto = overlong;
  Paint(alert);
  hit = alert.contenido[0].hitRect;
  // The search ends at 50; what is left below the text at that width is the picture's height.
  int textAt50 = 0;
  {
    Gdiplus::Graphics graphics(canvas_.get());
    CenteredTextMeasure measure(26.0f);
    textAt50 = static_cast<int>(std::ceil(measure.Height(graphics, AlertTextToWide(overlong), 50.0f, 930.0f)));
  }
  const int picH = std::max(930 - textAt50, 0);
  EXPECT_EQ(hit.top, 100 + textAt50);
  EXPECT_EQ(hit.bottom - hit.top, picH);
  EXPECT_EQ(hit.right - hit.left, static_cast<int>(std::lround(800.0f / 600.0f * static_cast<float>(picH))));
  EXPECT_LE(hit.right - hit.left, 50);
  EXPECT_LE(hit.bottom, 1030);
  EXPECT_TRUE(ColorAt(3, 1031, kCloseBarColor));  // nothing spills over the close bar
}

TEST_F(AlertWindowsPainting, PaintedGridAgreesWithItsGeometry) {
  struct Case {
    size_t entries;
    const char* columnas;
    int32_t cols, rows;
    RECT last;  // the last entry's clickable picture, the same in every build
  } cases[] = {{3, "10", 3, 1, {1286, 130, 1899, 511}},
               {3, "1", 1, 3, {746, 762, 1173, 1028}},
               {5, "3", 3, 2, {653, 605, 1266, 986}},
               {4, "2", 2, 2, {1093, 605, 1776, 1029}},  // 683 x 424 in a 930 x 425 cell
               {2, "0", 1, 2, {618, 605, 1301, 1029}}};
  const AlertLayout layout = MakeAlertLayout(1920, 1080);
  for (const Case& c : cases) {
    Alert alert;
    alert.tipo = "boton_multiple";
    alert.columnas = ColumnsFromText(c.columnas);
    for (size_t i = 0; i < c.entries; ++i) {
      alert.contenido.push_back(Entry("#00FF00", SolidPicture(37, 23, 0xFF0000FF)));  // enlarged to fill
    }
    Paint(alert);
    const GridGeometry grid = GridFor(layout, c.entries, alert.columnas);
    EXPECT_EQ(grid.cols, c.cols) << c.columnas;
    EXPECT_EQ(grid.rows, c.rows) << c.columnas;
    for (size_t i = 0; i < c.entries; ++i) {
      const EntryPlacement place = GridCellFor(layout, grid, i, 37, 23);
      const RECT expected = HitRectOf(place.picture);
      const RECT& hit = alert.contenido[i].hitRect;
      EXPECT_TRUE(hit.left == expected.left && hit.top == expected.top && hit.right == expected.right &&
                  hit.bottom == expected.bottom)
          << c.columnas << " entry " << i;
      EXPECT_TRUE(ColorAt(place.fill.x + 1, place.fill.y + 1, 0xFF00FF00)) << c.columnas << " entry " << i;
      EXPECT_TRUE(ColorAt((hit.left + hit.right) / 2, (hit.top + hit.bottom) / 2, 0xFF0000FF))
          << c.columnas << " entry " << i;
      // A small picture fills its cell's height or width, whichever comes first, but for the
      // pixel a single-precision product may fall short (683 x 424 in a 930 x 425 cell).
      EXPECT_TRUE(hit.bottom - hit.top >= grid.picMaxH - 1 || hit.right - hit.left >= grid.cellW - 1)
          << c.columnas << " entry " << i;
    }
    const RECT& last = alert.contenido.back().hitRect;
    EXPECT_TRUE(last.left == c.last.left && last.top == c.last.top && last.right == c.last.right &&
                last.bottom == c.last.bottom)
        << c.columnas << ": " << last.left << "," << last.top << "," << last.right << "," << last.bottom;
  }
}

TEST_F(AlertWindowsPainting, CloseBarKeepsItsColoursWhateverTheDocumentAsks) {
  struct Case {
    const char* fondo;
    Gdiplus::ARGB background;
  } cases[] = {
      {"#0078D7", 0xFF0078D7},  // even a background of the bar's own colour
      {"#c0ffee", 0xFFC0FFEE},  // lower-case digits
      {"#C0FFEE", 0xFFC0FFEE},
      {"blue", 0xFFFFFFFF},     // a colour name is white
      {"#12345", 0xFFFFFFFF},
  };
  for (const Case& c : cases) {
    document_.color_fondo = c.fondo;
    document_.color_titulo_fondo = c.fondo;
    document_.color_titulo_texto = c.fondo;
    Alert alert;
    alert.tipo = "aviso_futuro";
    Paint(alert);
    EXPECT_TRUE(ColorAt(960, 500, c.background)) << c.fondo;
    EXPECT_TRUE(ColorAt(3, 3, c.background)) << c.fondo;
    EXPECT_TRUE(ColorAt(3, 1031, kCloseBarColor)) << c.fondo;
    EXPECT_TRUE(ColorAt(1916, 1078, kCloseBarColor)) << c.fondo;
    // "CERRAR" in white, in the middle of the bar.
    int white = 0;
    for (int x = 900; x < 1020; ++x) {
      for (int y = 1045; y < 1066; ++y) white += ColorAt(x, y, 0xFFFFFFFF) ? 1 : 0;
    }
    EXPECT_GT(white, 20) << c.fondo;
  }
}

TEST_F(AlertWindowsPainting, AlertWithoutEntriesGetsTheFrameOnly) {
  for (const char* tipo : {"boton_multiple", "boton_unico", "solo_mensaje"}) {
    Alert alert;
    alert.tipo = tipo;
    Paint(alert);
    EXPECT_TRUE(ColorAt(960, 500, kBackground)) << tipo;
    EXPECT_TRUE(ColorAt(3, 1031, kCloseBarColor)) << tipo;
  }
}

// A picture whose scaling shows: gradients both ways and hard edges inside.
UniqueBitmap PatternPicture(int w, int h) {
  UniqueBitmap picture(new Gdiplus::Bitmap(w, h, PixelFormat24bppRGB));
  Gdiplus::Graphics graphics(picture.get());
  Gdiplus::LinearGradientBrush gradient(Gdiplus::Point(0, 0), Gdiplus::Point(w, h), Gdiplus::Color(0xFF2060A0),
                                        Gdiplus::Color(0xFFE0A040));
  graphics.FillRectangle(&gradient, 0, 0, w, h);
  Gdiplus::SolidBrush spot{Gdiplus::Color(0xFFFFFFFF)};
  for (int i = 0; i < 12; ++i) graphics.FillRectangle(&spot, (i * 97) % w, (i * 61) % h, w / 9 + 1, 1);
  return picture;
}

// The whole window as its next paint draws it on a surface like the window's, as 0xRRGGBB.
std::vector<uint32_t> PaintWindow(AlertWindowState& state) {
  HDC screen = ::GetDC(nullptr);
  UniqueDc dc(::CreateCompatibleDC(screen));
  UniqueGdiBitmap bitmap(::CreateCompatibleBitmap(screen, 1920, 1080));
  ::ReleaseDC(nullptr, screen);
  std::vector<uint32_t> pixels(1920 * 1080, 0);
  if (!dc || !bitmap) return {};
  HGDIOBJ previous = ::SelectObject(dc.get(), bitmap.get());
  PaintAlertWindow(dc.get(), RECT{0, 0, 1920, 1080}, MakeAlertLayout(1920, 1080), &state);
  ::SelectObject(dc.get(), previous);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = 1920;
  info.bmiHeader.biHeight = -1080;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  ::GetDIBits(dc.get(), bitmap.get(), 0, 1080, pixels.data(), &info, DIB_RGB_COLORS);
  for (uint32_t& p : pixels) p &= 0xFFFFFF;
  return pixels;
}

// Pictures scaled ahead of the first paint, off the window's thread, come out as the painters
// scale them themselves, pixel for pixel: placement, size, interpolation and blended edges.
TEST_F(AlertWindowsPainting, PicturesScaledAheadDrawTheSamePixels) {
  struct Case {
    const char* tipo;
    int entries;
    int w, h;
  } cases[] = {{"boton_multiple", 5, 800, 600},
               {"boton_unico", 1, 800, 600},
               {"solo_mensaje", 1, 37, 23},  // enlarged
               {"url_actualizar", 1, 1200, 800}};
  const AlertLayout layout = MakeAlertLayout(1920, 1080);
  for (const Case& c : cases) {
    Alert alert;
    alert.tipo = c.tipo;
    alert.columnas = 3;
    const bool update = std::string(c.tipo) == "url_actualizar";
    for (int i = 0; i < c.entries; ++i) {
      alert.contenido.push_back(Entry("#00FF00", update ? nullptr : PatternPicture(c.w + i, c.h), "Oferta de hoy"));
    }
    AlertWindowState itself, ahead;
    for (AlertWindowState* state : {&itself, &ahead}) {
      state->document = &document_;
      state->alert = &alert;
    }
    auto copies = std::make_shared<ScaledPictures>();
    ScaleAlertPictures(document_, alert, layout, *copies);
    ahead.scaled = copies;
    if (update) {
      itself.updatePicture = PatternPicture(c.w, c.h);
      ahead.updatePicture = PatternPicture(c.w, c.h);
      ahead.updatePictureScaled = ScaleUpdatePicture(*ahead.updatePicture, layout, kBackground);
      ASSERT_TRUE(ahead.updatePictureScaled) << c.tipo;
    }
    const std::vector<uint32_t> expected = PaintWindow(itself);
    const std::vector<uint32_t> got = PaintWindow(ahead);
    ASSERT_EQ(expected.size(), 1920u * 1080u) << c.tipo;
    size_t differing = 0;
    for (size_t i = 0; i < expected.size(); ++i) differing += expected[i] != got[i] ? 1 : 0;
    EXPECT_EQ(differing, 0u) << c.tipo << " " << c.w << "x" << c.h;
    // The first paint draws on the window itself; the next draws once more and keeps it, and any
    // later one copies what was kept: each shows the same.
    EXPECT_TRUE(PaintWindow(ahead) == got) << c.tipo << ": the paint that keeps";
    EXPECT_TRUE(PaintWindow(ahead) == got) << c.tipo << ": the paint that copies";
    // Every picture had its copy at the size it was drawn at.
    if (!update) {
      ASSERT_EQ(copies->size(), static_cast<size_t>(c.entries)) << c.tipo;
    }
    for (const AlertItem& item : alert.contenido) {
      if (!item.image) continue;
      const RECT& r = item.hitRect;
      EXPECT_NE(copies->Find(item.image.get(), r.right - r.left, r.bottom - r.top), nullptr) << c.tipo;
    }
  }
}

// After a change of the screen, copies scaled for the old size are never drawn, even where a
// picture would come out at the same size: the paint scales it itself until the new ones come.
TEST(AlertWindowsScaledCopies, DrawnOnlyOnTheScreenTheyWereScaledFor) {
  struct Case {
    int32_t madeW, madeH;  // 0 x 0: never scaled for a screen
    int32_t windowW, windowH;
    bool drawn;
  } cases[] = {{1920, 1080, 1920, 1080, true},   {1920, 1080, 1280, 720, false},
               {1280, 720, 1920, 1080, false},   {1920, 1200, 1920, 1080, false},
               {1600, 1080, 1920, 1080, false},  {1280, 720, 1280, 720, true},
               {0, 0, 1920, 1080, false}};
  for (const Case& c : cases) {
    ScaledPictures copies;
    if (c.madeW != 0) copies.SetScreen(c.madeW, c.madeH);
    const ScaledPictures* drawn = CopiesToDraw(&copies, c.windowW, c.windowH);
    EXPECT_EQ(drawn == &copies, c.drawn) << c.madeW << "x" << c.madeH << " on " << c.windowW << "x" << c.windowH;
  }
  EXPECT_EQ(CopiesToDraw(nullptr, 1920, 1080), nullptr);
}

TEST(AlertWindowsText, DocumentTextBecomesWideText) {
  struct Case {
    std::string in;
    std::wstring out;
  } cases[] = {
      {"Hola", L"Hola"},
      {"vac\xc3\xad" "a", L"vac\u00eda"},      // UTF-8
      {"vac\xed" "a", L"vac\u00eda"},          // not UTF-8: read as Windows-1252
      {"\x80 precio", L"\u20ac precio"},
      {"", L""},
  };
  for (const Case& c : cases) EXPECT_EQ(AlertTextToWide(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace brivon
