#include "alerts/window/alert_layout.h"

#include <algorithm>
#include <cmath>

namespace brivon {
namespace {

// Sizes are scaled in single precision, then cut to whole pixels toward zero.
int32_t Trunc(float value) { return static_cast<int32_t>(value); }
// Half away from zero.
int32_t Round(float value) { return static_cast<int32_t>(std::lround(value)); }

}  // namespace

AlertLayout MakeAlertLayout(int32_t width, int32_t height) {
  AlertLayout layout;
  layout.width = width;
  layout.height = height;
  layout.contentHeight = height - 150;
  return layout;
}

AlertLayout MakeAlertLayout(const RECT& client) { return MakeAlertLayout(client.right, client.bottom); }

AlertLayout ScreenLayout() {
  return MakeAlertLayout(::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN));
}

RECT HitRectOf(const PixelRect& picture) {
  return RECT{picture.x, picture.y, picture.x + picture.w, picture.y + picture.h};
}

FrameGeometry FrameFor(const AlertLayout& layout) {
  FrameGeometry frame;
  frame.background = {0, 0, layout.width, layout.height};
  frame.titleBand = {0, 0, layout.width, layout.headerHeight};
  frame.closeBar = {0, layout.height - layout.footerHeight, layout.width, layout.footerHeight};
  return frame;
}

bool IsInCloseBar(const RECT& client, int32_t y) { return y >= client.bottom - 50; }

bool IsHit(const RECT& r, int32_t x, int32_t y) {
  if (r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0) return false;
  return r.left <= x && x <= r.right && r.top <= y && y <= r.bottom;
}

GridGeometry GridFor(const AlertLayout& layout, size_t entryCount, int32_t columnas) {
  GridGeometry grid;
  if (entryCount == 0) return grid;
  const int32_t n = static_cast<int32_t>(std::min<size_t>(entryCount, 0x7FFFFFFF));
  grid.cols = std::clamp(columnas, 1, n);
  grid.rows = static_cast<int32_t>(std::ceil(static_cast<float>(n) / static_cast<float>(grid.cols)));
  grid.cellW = (layout.width - 20 * (grid.cols + 1)) / grid.cols;
  grid.cellH = (layout.contentHeight - 20 * grid.rows + 20) / grid.rows;
  grid.picMaxH = std::max(grid.cellH - kTextBandHeight, 0);
  return grid;
}

EntryPlacement GridCellFor(const AlertLayout& layout, const GridGeometry& grid, size_t index, int32_t pictureW,
                           int32_t pictureH) {
  EntryPlacement placement;
  if (grid.cols <= 0) return placement;
  const int32_t i = static_cast<int32_t>(index);
  const int32_t col = i % grid.cols;
  const int32_t row = i / grid.cols;
  const int32_t x = 20 + col * (grid.cellW + 20);
  const int32_t y = layout.contentTop + row * (grid.cellH + 20);
  placement.fill = {x, y, grid.cellW, kTextBandHeight};
  placement.text = placement.fill;
  if (pictureW > 0 && pictureH > 0) {
    const float byWidth = static_cast<float>(grid.cellW) / static_cast<float>(pictureW);
    const float byHeight = static_cast<float>(grid.picMaxH) / static_cast<float>(pictureH);
    const float s = std::min(byWidth, byHeight);
    const int32_t dw = Trunc(static_cast<float>(pictureW) * s);
    const int32_t dh = Trunc(static_cast<float>(pictureH) * s);
    placement.hasPicture = true;
    placement.picture = {x + (grid.cellW - dw) / 2, y + kTextBandHeight, dw, dh};
  }
  return placement;
}

EntryPlacement SoloMensajeFor(const AlertLayout& layout, int32_t pictureW, int32_t pictureH) {
  EntryPlacement placement;
  if (pictureW > 0 && pictureH > 0) {
    const float byWidth = static_cast<float>(layout.width - 40) / static_cast<float>(pictureW);
    const float byHeight = static_cast<float>(layout.contentHeight - 30) / static_cast<float>(pictureH);
    const float s = std::min(byWidth, byHeight);
    const int32_t dw = Trunc(static_cast<float>(pictureW) * s);
    const int32_t dh = Trunc(static_cast<float>(pictureH) * s);
    const int32_t x = (layout.width - dw) / 2;
    placement.fill = {x, layout.contentTop, dw, dh + kTextBandHeight};
    placement.text = {x, layout.contentTop, dw, kTextBandHeight};
    placement.hasPicture = true;
    placement.picture = {x, layout.contentTop + kTextBandHeight, dw, dh};
    return placement;
  }
  placement.fill = {20, layout.contentTop, layout.width - 40, layout.contentHeight};
  placement.text = placement.fill;
  return placement;
}

EntryPlacement BotonUnicoFor(const AlertLayout& layout, int32_t pictureW, int32_t pictureH,
                             const MeasureTextHeight& measure) {
  EntryPlacement placement;
  if (pictureW <= 0 || pictureH <= 0) {
    placement.fill = {20, layout.contentTop, layout.width - 40, kTextBandHeight};
    placement.text = placement.fill;
    return placement;
  }
  const float iw = static_cast<float>(pictureW);
  const float ih = static_cast<float>(pictureH);
  const float ratio = ih / iw;
  const float availH = static_cast<float>(std::max(layout.contentHeight, 0));
  const int32_t widest = layout.width - 40;
  float lo = static_cast<float>(kBotonUnicoLowestWidth);
  float hi = static_cast<float>(std::max(widest, kBotonUnicoLowestWidth));
  float best = lo;
  for (int step = 0; step < kBotonUnicoSearchSteps; ++step) {
    const float mid = (lo + hi) * 0.5f;
    const float th = measure(mid, availH);
    const float needed = mid * ratio + th;
    if (availH >= needed) {
      lo = mid;
      best = mid;
    } else {
      hi = mid;
    }
  }
  int32_t w = Round(best);
  if (w > widest) w = widest;
  if (w < kBotonUnicoLowestWidth) w = kBotonUnicoLowestWidth;
  const int32_t textH = static_cast<int32_t>(std::ceil(measure(static_cast<float>(w), availH)));
  int32_t picH = Round(ih / iw * static_cast<float>(w));
  if (static_cast<float>(picH + textH) > availH) {
    picH = Trunc(std::max(availH - static_cast<float>(textH), 0.0f));
    w = Round(iw / ih * static_cast<float>(picH));
  }
  const int32_t x = (layout.width - w) / 2;
  const int32_t y = layout.contentTop;
  placement.fill = {x, y, w, textH + picH};
  placement.text = {x, y, w, textH};
  placement.hasPicture = true;
  placement.picture = {x, y + textH, w, picH};
  return placement;
}

PixelRect UpdatePictureFor(const AlertLayout& layout, int32_t pictureW, int32_t pictureH) {
  if (pictureW <= 0 || pictureH <= 0) return {};
  const int32_t band = layout.height - layout.footerHeight - layout.headerHeight;
  const float s = std::min({1.0f, static_cast<float>(layout.width) * 0.6f / static_cast<float>(pictureW),
                            static_cast<float>(band) * 0.6f / static_cast<float>(pictureH)});
  const int32_t w = Trunc(static_cast<float>(pictureW) * s);
  const int32_t h = Trunc(static_cast<float>(pictureH) * s);
  return {(layout.width - w) / 2, (band - h) / 2 + layout.headerHeight, w, h};
}

}  // namespace brivon
