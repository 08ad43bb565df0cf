// How often the worker reports the download, and what the strip shows of it.
#include <gtest/gtest.h>

#include "alerts/window/progress_strip.h"
#include "alerts/window/update_worker.h"

namespace brivon {
namespace {

TEST(UpdateProgressTest, ReportsAtMostTenTimesASecondButAlwaysTheFirstAndTheLast) {
  struct Case {
    const char* name;
    DWORD now, last;
    bool before;
    uint64_t soFar, total;
    bool due;
  } cases[] = {
      {"first report", 5000, 0, false, 1, 100, true},
      {"too soon", 5050, 5000, true, 2, 100, false},
      {"one interval later", 5100, 5000, true, 3, 100, true},
      {"last byte, however soon", 5001, 5000, true, 100, 100, true},
      {"size unknown, too soon", 5099, 5000, true, 500, 0, false},
      {"size unknown, interval over", 5100, 5000, true, 500, 0, true},
      {"tick counter wrapped", 20, 0xFFFFFFF0u, true, 4, 100, false},
      {"tick counter wrapped, interval over", 200, 0xFFFFFFF0u, true, 4, 100, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ProgressReportDue(c.now, c.last, c.before, c.soFar, c.total), c.due) << c.name;
  }
}

TEST(UpdateProgressTest, StripTextAndBar) {
  const AlertLayout layout = MakeAlertLayout(1920, 1080);
  const uint64_t mb = 1024 * 1024;
  struct Case {
    uint64_t soFar, total;
    const wchar_t* text;
    int filledWidth;  // of a 960-pixel track; -1: no bar
  } cases[] = {
      {0, 0, L"Descargando la actualizaci\u00f3n: 0,0 MB recibidos", -1},
      {12 * mb + 3 * mb / 10, 0, L"Descargando la actualizaci\u00f3n: 12,3 MB recibidos", -1},
      {0, 100 * mb, L"Descargando la actualizaci\u00f3n: 0 % (0,0 de 100,0 MB)", 0},
      {45 * mb, 100 * mb, L"Descargando la actualizaci\u00f3n: 45 % (45,0 de 100,0 MB)", 432},
      {100 * mb, 100 * mb, L"Descargando la actualizaci\u00f3n: 100 % (100,0 de 100,0 MB)", 960},
      // A server that sends more than it announced never draws past the track.
      {150 * mb, 100 * mb, L"Descargando la actualizaci\u00f3n: 100 % (150,0 de 100,0 MB)", 960},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ProgressStripText(c.soFar, c.total), c.text);
    ProgressStripGeometry g = ProgressStripFor(layout, c.soFar, c.total);
    // The strip is the bottom bar and nothing above it: the update picture stays as drawn.
    EXPECT_EQ(g.strip.top, 1080 - 50);
    EXPECT_EQ(g.strip.bottom, 1080);
    EXPECT_GE(g.text.top, g.strip.top);
    if (c.filledWidth < 0) {
      EXPECT_EQ(g.track.right - g.track.left, 0);
    } else {
      EXPECT_EQ(g.track.right - g.track.left, 960);
      EXPECT_EQ(g.filled.right - g.filled.left, c.filledWidth) << c.soFar;
      EXPECT_GE(g.track.top, g.strip.top);
    }
  }
}

}  // namespace
}  // namespace brivon
