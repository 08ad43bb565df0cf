// Geometry of the alert windows, computed from numbers alone.
#include <gtest/gtest.h>

#include "alerts/window/alert_layout.h"
#include "alerts/window/picture_scaling.h"

#include <vector>

namespace brivon {
namespace {

const AlertLayout kFullHd = MakeAlertLayout(1920, 1080);

TEST(AlertWindowsLayout, LayoutFollowsTheClientRectangle) {
  AlertLayout layout = MakeAlertLayout(RECT{0, 0, 1920, 1080});
  EXPECT_EQ(layout.width, 1920);
  EXPECT_EQ(layout.height, 1080);
  EXPECT_EQ(layout.contentTop, 100);
  EXPECT_EQ(layout.contentHeight, 930);
  FrameGeometry frame = FrameFor(layout);
  EXPECT_EQ(frame.titleBand, (PixelRect{0, 0, 1920, 80}));
  EXPECT_EQ(frame.closeBar, (PixelRect{0, 1030, 1920, 50}));
}

TEST(AlertWindowsLayout, GridOfFiveEntriesInThreeColumns) {
  GridGeometry grid = GridFor(kFullHd, 5, 3);
  EXPECT_EQ(grid.cols, 3);
  EXPECT_EQ(grid.rows, 2);
  EXPECT_EQ(grid.cellW, 613);
  EXPECT_EQ(grid.cellH, 455);
  EXPECT_EQ(grid.picMaxH, 425);
  EntryPlacement fifth = GridCellFor(kFullHd, grid, 4, 800, 600);
  EXPECT_EQ(fifth.fill, (PixelRect{653, 575, 613, 30}));
  ASSERT_TRUE(fifth.hasPicture);
  EXPECT_EQ(fifth.picture, (PixelRect{676, 605, 566, 425}));
  RECT hit = HitRectOf(fifth.picture);
  EXPECT_EQ(hit.left, 676);
  EXPECT_EQ(hit.top, 605);
  EXPECT_EQ(hit.right, 1242);
  EXPECT_EQ(hit.bottom, 1030);
}

TEST(AlertWindowsLayout, GridColumnsAreClampedToTheEntries) {
  struct Case {
    size_t entries;
    int32_t columnas;
    int32_t cols, rows;
  } cases[] = {
      {3, 10, 3, 1}, {3, 1, 1, 3}, {3, 0, 1, 3}, {3, -5, 1, 3}, {7, 3, 3, 3}, {1, 1, 1, 1}, {4, 2, 2, 2},
  };
  for (const Case& c : cases) {
    GridGeometry grid = GridFor(kFullHd, c.entries, c.columnas);
    EXPECT_EQ(grid.cols, c.cols) << c.entries << " entries, columnas " << c.columnas;
    EXPECT_EQ(grid.rows, c.rows) << c.entries << " entries, columnas " << c.columnas;
  }
  EXPECT_EQ(GridFor(kFullHd, 0, 3).cols, 0);
}

// Scales and sizes are single-precision quotients and products, cut toward zero: 37 x 23 in a
// 930 x 425 cell is 683 x 424, one pixel short of the cell, where 80-bit intermediates (x87) give
// 425. The same numbers hold in every build.
TEST(AlertWindowsLayout, GridPicturesAreScaledBothWaysKeepingTheirShape) {
  struct Case {
    int32_t width, height;
    size_t entries;
    int32_t columnas;
    size_t index;
    int32_t w, h;
    PixelRect expected;
  } cases[] = {
      {1920, 1080, 1, 1, 0, 37, 23, {236, 130, 1447, 900}},   // small: enlarged until the height is full
      {1920, 1080, 1, 1, 0, 4000, 100, {20, 130, 1880, 47}},  // wide: the width decides
      {1920, 1080, 1, 1, 0, 10, 10, {510, 130, 900, 900}},
      {1920, 1080, 4, 2, 3, 37, 23, {1093, 605, 683, 424}},   // one short of the cell's 425
      {1920, 1080, 3, 1, 2, 37, 23, {746, 762, 427, 266}},
      {1366, 768, 6, 3, 5, 41, 19, {916, 449, 427, 198}},     // one short of the cell's 428
      {1280, 1024, 1, 1, 0, 37, 23, {20, 130, 1239, 770}},    // one short of the cell's 1240
      {800, 600, 4, 2, 3, 37, 23, {446, 365, 297, 185}},      // 185 where the exact product is 184.99
      {800, 600, 4, 2, 3, 41, 19, {410, 365, 370, 171}},
  };
  for (const Case& c : cases) {
    const AlertLayout layout = MakeAlertLayout(c.width, c.height);
    const GridGeometry grid = GridFor(layout, c.entries, c.columnas);
    EntryPlacement place = GridCellFor(layout, grid, c.index, c.w, c.h);
    ASSERT_TRUE(place.hasPicture);
    EXPECT_EQ(place.picture, c.expected) << c.width << "x" << c.height << ", picture " << c.w << "x" << c.h;
  }
  GridGeometry one = GridFor(kFullHd, 1, 1);
  for (auto size : {std::pair{0, 10}, std::pair{10, 0}, std::pair{-1, -1}}) {
    EXPECT_FALSE(GridCellFor(kFullHd, one, 0, size.first, size.second).hasPicture);
  }
}

TEST(AlertWindowsLayout, GridOnATinyWindowNeverGivesNegativePictureHeights) {
  AlertLayout tiny = MakeAlertLayout(200, 160);
  GridGeometry grid = GridFor(tiny, 4, 2);
  EXPECT_EQ(grid.picMaxH, 0);
  EntryPlacement place = GridCellFor(tiny, grid, 3, 800, 600);
  EXPECT_GE(place.picture.h, 0);
}

TEST(AlertWindowsLayout, SoloMensajeWithAndWithoutPicture) {
  EntryPlacement wide = SoloMensajeFor(kFullHd, 1000, 500);
  EXPECT_EQ(wide.fill, (PixelRect{60, 100, 1800, 930}));
  EXPECT_EQ(wide.text, (PixelRect{60, 100, 1800, 30}));
  ASSERT_TRUE(wide.hasPicture);
  EXPECT_EQ(wide.picture, (PixelRect{60, 130, 1800, 900}));
  RECT hit = HitRectOf(wide.picture);
  EXPECT_EQ(hit.right, 1860);
  EXPECT_EQ(hit.bottom, 1030);
  // 37 x 23 on 1280 x 1024: the single-precision product is one short of the 1240 available.
  EXPECT_EQ(SoloMensajeFor(MakeAlertLayout(1280, 1024), 37, 23).picture, (PixelRect{20, 130, 1239, 770}));

  EntryPlacement bare = SoloMensajeFor(kFullHd, 0, 0);
  EXPECT_FALSE(bare.hasPicture);
  EXPECT_EQ(bare.fill, (PixelRect{20, 100, 1880, 930}));
  EXPECT_EQ(bare.text, bare.fill);
}

TEST(AlertWindowsLayout, BotonUnicoFindsTheWidestFittingBlock) {
  struct Case {
    const char* name;
    int32_t pictureW, pictureH;
    float lineHeight;  // what measuring answers at every width
    int32_t expectedW, expectedPicH;
  } cases[] = {
      {"one line of 30", 800, 600, 30.0f, 1200, 900},  // (930 - 30) * 800 / 600
      {"one line of 31", 800, 600, 31.0f, 1199, 899},  // 1198.67, rounded
      {"no text", 800, 600, 0.0f, 1240, 930},
      {"wide picture", 4000, 100, 30.0f, 1880, 47},    // never wider than width - 40
  };
  for (const Case& c : cases) {
    int calls = 0;
    EntryPlacement place = BotonUnicoFor(kFullHd, c.pictureW, c.pictureH, [&](float, float height) {
      ++calls;
      EXPECT_EQ(height, 930.0f);
      return c.lineHeight;
    });
    EXPECT_EQ(calls, kBotonUnicoSearchSteps + 1) << c.name;
    EXPECT_EQ(place.picture.w, c.expectedW) << c.name;
    EXPECT_EQ(place.picture.h, c.expectedPicH) << c.name;
    EXPECT_EQ(place.picture.x, (1920 - c.expectedW) / 2) << c.name;
    EXPECT_EQ(place.text.y, 100) << c.name;
    EXPECT_EQ(place.picture.y, 100 + place.text.h) << c.name;
    EXPECT_LE(place.text.h + place.picture.h, 930) << c.name;
    EXPECT_EQ(place.fill.h, place.text.h + place.picture.h) << c.name;
  }
}

TEST(AlertWindowsLayout, BotonUnicoWithAnOverlongTextShrinksThePicture) {
  struct Case {
    float textHeight;
    int32_t picH, w;
  } cases[] = {
      {900.0f, 30, 40},   // the search ends at 50; 38 high does not fit below 900, 30 does
      {930.0f, 0, 0},     // nothing left for the picture
      {1200.0f, 0, 0},    // taller than the window: never a negative height
  };
  for (const Case& c : cases) {
    EntryPlacement place = BotonUnicoFor(kFullHd, 800, 600, [&](float, float) { return c.textHeight; });
    EXPECT_EQ(place.picture.h, c.picH) << c.textHeight;
    EXPECT_EQ(place.picture.w, c.w) << c.textHeight;
    EXPECT_EQ(place.picture.x, (1920 - c.w) / 2) << c.textHeight;
  }
}

TEST(AlertWindowsLayout, BotonUnicoWithoutPictureIsOneBand) {
  int calls = 0;
  EntryPlacement place = BotonUnicoFor(kFullHd, 0, 0, [&](float, float) { return ++calls, 10.0f; });
  EXPECT_EQ(calls, 0);
  EXPECT_FALSE(place.hasPicture);
  EXPECT_EQ(place.fill, (PixelRect{20, 100, 1880, 30}));
}

TEST(AlertWindowsLayout, CloseBarAndHitTests) {
  RECT client{0, 0, 1920, 1080};
  struct Case {
    int32_t y;
    bool closeBar;
  } bars[] = {{1030, true}, {1029, false}, {1079, true}, {0, false}, {65535, true}};
  for (const Case& c : bars) EXPECT_EQ(IsInCloseBar(client, c.y), c.closeBar) << c.y;

  RECT picture{676, 605, 1242, 1030};
  struct Hit {
    int32_t x, y;
    bool hit;
  } hits[] = {{676, 605, true}, {1242, 1030, true}, {675, 700, false}, {1243, 700, false},
              {900, 604, false}, {900, 1031, false}, {900, 800, true}};
  for (const Hit& h : hits) EXPECT_EQ(IsHit(picture, h.x, h.y), h.hit) << h.x << "," << h.y;
  EXPECT_FALSE(IsHit(RECT{0, 0, 0, 0}, 0, 0));
}

TEST(AlertWindowsLayout, UpdatePictureIsNeverEnlargedAndCentred) {
  struct Case {
    int32_t w, h;
    PixelRect expected;
  } cases[] = {
      {400, 300, {760, 405, 400, 300}},      // small: own size, centred between the bands
      {3000, 1000, {384, 363, 1152, 384}},   // wide: 60 % of the width
      {500, 2000, {889, 270, 142, 570}},     // tall: 60 % of the 950 between the bands
  };
  for (const Case& c : cases) EXPECT_EQ(UpdatePictureFor(kFullHd, c.w, c.h), c.expected) << c.w << "x" << c.h;
  EXPECT_EQ(UpdatePictureFor(MakeAlertLayout(1366, 768), 4000, 3000), (PixelRect{428, 208, 510, 382}));
}

// The pictures' own scaling: every destination pixel's weights sum to one, a flat colour stays
// itself whichever way it is scaled, shrinking averages what it covers, and a transparent pixel
// laid over the backdrop shows the backdrop.
TEST(AlertWindowsLayout, PicturesScaleByTheirOwnFilter) {
  for (const auto& [from, to] : std::vector<std::pair<int32_t, int32_t>>{{1, 1}, {1, 7}, {800, 613}, {600, 1}, {37, 1500}}) {
    for (const FilterTap& tap : TentTaps(from, to)) {
      int32_t sum = 0;
      for (const int32_t weight : tap.weights) sum += weight;
      EXPECT_EQ(sum, 1 << 14) << from << " to " << to;
      EXPECT_GE(tap.first, 0);
      EXPECT_LE(tap.first + static_cast<int32_t>(tap.weights.size()), from);
    }
  }
  struct Row {
    const char* name;
    std::vector<uint32_t> source;
    int32_t sourceW, sourceH, w, h;
    uint32_t backdrop;
    uint32_t expected;  // every destination pixel, after the backdrop when there is one
  } rows[] = {
      {"flat colour enlarged", std::vector<uint32_t>(6, 0xFF2060A0), 3, 2, 17, 9, 0, 0xFF2060A0},
      {"flat colour shrunk", std::vector<uint32_t>(40 * 30, 0xFF2060A0), 40, 30, 3, 2, 0, 0xFF2060A0},
      {"two pixels shrunk to one average", {0xFF000000, 0xFFFEFEFE}, 2, 1, 1, 1, 0, 0xFF7F7F7F},
      {"two rows shrunk to one average", {0xFF000000, 0xFFFEFEFE}, 1, 2, 1, 1, 0, 0xFF7F7F7F},
      {"transparent over the backdrop", std::vector<uint32_t>(4, 0x00000000), 2, 2, 5, 5, 0x204080, 0xFF204080},
      {"half covered over the backdrop", std::vector<uint32_t>(4, 0x80800000), 2, 2, 3, 3, 0x0000FE, 0xFF80007F},
  };
  for (const Row& row : rows) {
    std::vector<uint32_t> out(static_cast<size_t>(row.w) * row.h, 0x12345678);
    const ConstPixelRows in{row.source.data(), row.sourceW, row.sourceH, row.sourceW};
    const PixelRows to{out.data(), row.w, row.h, row.w};
    ASSERT_TRUE(ScalePixels(in, to)) << row.name;
    if (row.backdrop != 0) LayOverOpaque(to, row.backdrop);
    for (const uint32_t pixel : out) ASSERT_EQ(pixel, row.expected) << row.name;
  }
  // At its own size every pixel stays where it was: a row of nine is packed in fours and a rest.
  std::vector<uint32_t> ramp(9 * 3);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = 0xFF000000u | static_cast<uint32_t>(i) * 0x070503u;
  std::vector<uint32_t> kept(ramp.size());
  ASSERT_TRUE(ScalePixels(ConstPixelRows{ramp.data(), 9, 3, 9}, PixelRows{kept.data(), 9, 3, 9}));
  EXPECT_EQ(kept, ramp);
}

}  // namespace
}  // namespace brivon
