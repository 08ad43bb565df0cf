// How often the worker reports the update, and what the strip shows of it.
#include <gtest/gtest.h>

#include "alerts/window/progress_strip.h"
#include "alerts/window/update_worker.h"

namespace brivon {
namespace {

TEST(UpdateProgressTest, ReportsAtMostTenTimesASecondButAlwaysTheFirstTheLastEachStageAndTheSize) {
  struct Case {
    const char* name;
    DWORD now, last;
    bool before, newStage;
    uint64_t soFar, total, shownTotal;
    bool due;
  } cases[] = {
      {"first report", 5000, 0, false, false, 1, 100, 100, true},
      {"too soon", 5050, 5000, true, false, 2, 100, 100, false},
      {"one interval later", 5100, 5000, true, false, 3, 100, 100, true},
      {"last byte, however soon", 5001, 5000, true, false, 100, 100, 100, true},
      {"size unknown, too soon", 5099, 5000, true, false, 500, 0, 0, false},
      {"size unknown, interval over", 5100, 5000, true, false, 500, 0, 0, true},
      {"tick counter wrapped", 20, 0xFFFFFFF0u, true, false, 4, 100, 100, false},
      {"a new stage, however soon", 5001, 5000, true, true, 0, 0, 0, true},
      {"tick counter wrapped, interval over", 200, 0xFFFFFFF0u, true, false, 4, 100, 100, true},
      // The package's size, known before its first read returns, is shown at once.
      {"the size just became known, however soon", 5001, 5000, true, false, 0, 100, 0, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ProgressReportDue(c.now, c.last, c.before, c.newStage, c.soFar, c.total, c.shownTotal), c.due) << c.name;
  }
}

TEST(UpdateProgressTest, StripTextAndBar) {
  const AlertLayout layout = MakeAlertLayout(1920, 1080);
  const uint64_t mb = 1024 * 1024;
  using S = UpdateStage;
  struct Case {
    S stage;
    uint64_t soFar, total;
    const wchar_t* text;
    int filledWidth;  // of a 960-pixel track; -1: no bar
  } cases[] = {
      {S::Downloading, 0, 0, L"Descargando la actualizaci\u00f3n\u2026 0 KB recibidos", -1},
      {S::Downloading, 12 * mb + 3 * mb / 10, 0, L"Descargando la actualizaci\u00f3n\u2026 12,3 MB recibidos", -1},
      {S::Downloading, 0, 100 * mb, L"Descargando la actualizaci\u00f3n\u2026 0 % (0,0 de 100,0 MB)", 0},
      {S::Downloading, 45 * mb, 100 * mb, L"Descargando la actualizaci\u00f3n\u2026 45 % (45,0 de 100,0 MB)", 432},
      {S::Downloading, 100 * mb, 100 * mb, L"Descargando la actualizaci\u00f3n\u2026 100 % (100,0 de 100,0 MB)", 960},
      // A package under a MB counts in KB, never "0,0 de 0,0 MB"; a byte is a KB already.
      {S::Downloading, 60 * 1024, 117 * 1024, L"Descargando la actualizaci\u00f3n\u2026 51 % (60 de 117 KB)", 492},
      {S::Downloading, 0, 300, L"Descargando la actualizaci\u00f3n\u2026 0 % (0 de 1 KB)", 0},
      {S::Downloading, 600 * 1024, 0, L"Descargando la actualizaci\u00f3n\u2026 600 KB recibidos", -1},
      {S::Downloading, mb - 1, mb, L"Descargando la actualizaci\u00f3n\u2026 99 % (1,0 de 1,0 MB)", 959},
      // A server that sends more than it announced never draws past the track.
      {S::Downloading, 150 * mb, 100 * mb, L"Descargando la actualizaci\u00f3n\u2026 100 % (150,0 de 100,0 MB)", 960},
      // 7-Zip has not said anything yet; then its own percentage.
      {S::Extracting, 0, 0, L"Descomprimiendo\u2026", -1},
      {S::Extracting, 37, 100, L"Descomprimiendo\u2026 37 %", 355},
      {S::Extracting, 100, 100, L"Descomprimiendo\u2026 100 %", 960},
      // Stages without a measure: words alone, whatever the last numbers were.
      {S::Installing, 100, 100, L"Instalando\u2026", -1},
      {S::KeepingPrevious, 5, 100, L"Guardando la versi\u00f3n anterior\u2026", -1},
      // Refused for the room on the drive: said for a few seconds before the window closes.
      {S::NeedsFreeSpace, 0, 0, L"La actualizaci\u00f3n necesita m\u00e1s espacio libre en el disco", -1},
  };
  for (const auto& c : cases) {
    const UpdateProgress progress{c.stage, c.soFar, c.total};
    EXPECT_EQ(ProgressStripText(progress), c.text);
    ProgressStripGeometry g = ProgressStripFor(layout, progress);
    // The strip is the bottom bar and nothing above it: the update picture stays as drawn.
    EXPECT_EQ(g.strip.top, 1080 - 50);
    EXPECT_EQ(g.strip.bottom, 1080);
    EXPECT_GE(g.text.top, g.strip.top);
    // Room for the text's 22 pixels below the bar.
    EXPECT_GE(g.text.bottom - g.text.top, kStripTextPixels + 4) << c.soFar;
    if (c.filledWidth < 0) {
      EXPECT_EQ(g.track.right - g.track.left, 0);
    } else {
      EXPECT_EQ(g.track.right - g.track.left, 960);
      EXPECT_EQ(g.filled.right - g.filled.left, c.filledWidth) << c.soFar;
      EXPECT_GE(g.track.top, g.strip.top);
      EXPECT_LE(g.track.bottom, g.text.top);
    }
  }
}

// Text and bar must be readable on the strip by people with weaker sight (4.5:1 at least).
TEST(UpdateProgressTest, StripColoursStandOutFromTheStrip) {
  struct Case {
    const char* name;
    COLORREF a, b;
    double low, high;  // expected ratio, within rounding
  } cases[] = {
      {"white on black, the scale's top", RGB(255, 255, 255), RGB(0, 0, 0), 20.99, 21.01},
      {"same colour, the scale's bottom", RGB(0x20, 0x20, 0x20), RGB(0x20, 0x20, 0x20), 1.0, 1.0},
      {"the old bar on the strip was too faint", RGB(0x00, 0x78, 0xD7), RGB(0x20, 0x20, 0x20), 3.5, 3.7},
      {"text on the strip", kStripTextColour, kStripColour, 4.5, 21.0},
      {"bar on the strip", kStripBarColour, kStripColour, 4.5, 21.0},
  };
  for (const auto& c : cases) {
    const double ratio = ContrastRatio(c.a, c.b);
    EXPECT_GE(ratio, c.low) << c.name;
    EXPECT_LE(ratio, c.high) << c.name;
    EXPECT_DOUBLE_EQ(ratio, ContrastRatio(c.b, c.a)) << c.name;
  }
}

}  // namespace
}  // namespace brivon
