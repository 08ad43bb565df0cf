// Geometry of an alert window: layout in, rectangles out. Shared by the painters, the click
// handling, the alert preview and the tests, so what is drawn and what is clickable agree.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

namespace brivon {

struct AlertLayout {
  int32_t width = 0;
  int32_t height = 0;
  int32_t headerHeight = 80;
  int32_t footerHeight = 50;
  int32_t contentTop = 100;
  int32_t contentHeight = 0;
};

AlertLayout MakeAlertLayout(const RECT& client);
AlertLayout MakeAlertLayout(int32_t width, int32_t height);
// The layout of a window covering the primary screen as it is now.
AlertLayout ScreenLayout();

// x, y, width, height in client pixels.
struct PixelRect {
  int32_t x = 0;
  int32_t y = 0;
  int32_t w = 0;
  int32_t h = 0;
  bool operator==(const PixelRect& o) const { return x == o.x && y == o.y && w == o.w && h == o.h; }
};

// Left, top, right, bottom of a drawn picture: what a click is tested against.
RECT HitRectOf(const PixelRect& picture);

struct FrameGeometry {
  PixelRect background;
  PixelRect titleBand;
  PixelRect closeBar;
};
FrameGeometry FrameFor(const AlertLayout& layout);

// True for a click in the close bar: the bottom 50 pixels, the top edge included.
bool IsInCloseBar(const RECT& client, int32_t y);
// Edges included; an all-zero rectangle is never hit.
bool IsHit(const RECT& hitRect, int32_t x, int32_t y);

inline constexpr int32_t kTextBandHeight = 30;

struct GridGeometry {
  int32_t cols = 0;
  int32_t rows = 0;
  int32_t cellW = 0;
  int32_t cellH = 0;
  int32_t picMaxH = 0;
};
// The grid of entryCount entries asked to lie in `columnas` columns (clamped to 1..entryCount).
GridGeometry GridFor(const AlertLayout& layout, size_t entryCount, int32_t columnas);

struct EntryPlacement {
  PixelRect fill;         // the entry's colour under its text
  PixelRect text;         // the layout rectangle of its text
  bool hasPicture = false;
  PixelRect picture;      // meaningful when hasPicture
};

// Picture width and height of 0 (or less) mean no drawable picture.
EntryPlacement GridCellFor(const AlertLayout& layout, const GridGeometry& grid, size_t index, int32_t pictureW,
                           int32_t pictureH);

EntryPlacement SoloMensajeFor(const AlertLayout& layout, int32_t pictureW, int32_t pictureH);

// Height of the bounding box of the entry's text laid out in a rectangle of this width and height.
using MeasureTextHeight = std::function<float(float width, float height)>;

inline constexpr int kBotonUnicoSearchSteps = 28;
inline constexpr int32_t kBotonUnicoLowestWidth = 50;

// The widest block (50 to width - 40) whose text, wrapped to the block, and picture, scaled to
// it, fit the content height. Calls measure 28 times for the search and once for the result.
EntryPlacement BotonUnicoFor(const AlertLayout& layout, int32_t pictureW, int32_t pictureH,
                             const MeasureTextHeight& measure);

// Where the update picture goes: at most 60 % of the window each way, never enlarged, centred
// between the title band and the bottom bar.
PixelRect UpdatePictureFor(const AlertLayout& layout, int32_t pictureW, int32_t pictureH);

}  // namespace brivon
