#include "alerts/window/progress_strip.h"

#include <algorithm>
#include <cstdio>

#include "common/unique_handle.h"

namespace brivon {
namespace {

constexpr COLORREF kStripColour = RGB(0x20, 0x20, 0x20);
constexpr COLORREF kTrackColour = RGB(0x55, 0x55, 0x55);
constexpr COLORREF kFilledColour = RGB(0x00, 0x78, 0xD7);
constexpr COLORREF kTextColour = RGB(0xFF, 0xFF, 0xFF);
constexpr int kTrackHeight = 12;
constexpr int kTrackMargin = 40;

std::wstring Megabytes(uint64_t bytes) {
  // One decimal with a decimal comma, as the people at the desk write it.
  uint64_t tenths = (bytes * 10 + 512 * 1024) / (1024 * 1024);
  return std::to_wstring(tenths / 10) + L"," + std::to_wstring(tenths % 10);
}

}  // namespace

ProgressStripGeometry ProgressStripFor(const AlertLayout& layout, uint64_t soFar, uint64_t total) {
  ProgressStripGeometry g{};
  const int top = layout.height - layout.footerHeight;
  g.strip = {0, top, layout.width, layout.height};
  if (total == 0) {
    g.text = g.strip;
    return g;
  }
  const int trackWidth = std::max(0, layout.width / 2);
  const int trackLeft = (layout.width - trackWidth) / 2;
  const int trackTop = top + 6;
  g.track = {trackLeft, trackTop, trackLeft + trackWidth, trackTop + kTrackHeight};
  uint64_t done = std::min(soFar, total);
  int filledWidth = static_cast<int>(static_cast<double>(trackWidth) * static_cast<double>(done) / static_cast<double>(total));
  g.filled = {trackLeft, trackTop, trackLeft + filledWidth, trackTop + kTrackHeight};
  g.text = {kTrackMargin, trackTop + kTrackHeight, layout.width - kTrackMargin, layout.height};
  return g;
}

std::wstring ProgressStripText(uint64_t soFar, uint64_t total) {
  std::wstring text = L"Descargando la actualizaci\u00f3n: ";
  if (total == 0) return text + Megabytes(soFar) + L" MB recibidos";
  uint64_t percent = std::min<uint64_t>(100, soFar * 100 / total);
  return text + std::to_wstring(percent) + L" % (" + Megabytes(soFar) + L" de " + Megabytes(total) + L" MB)";
}

namespace {

void FillWith(HDC dc, const RECT& area, COLORREF colour) {
  UniqueBrush brush(::CreateSolidBrush(colour));
  if (brush) ::FillRect(dc, &area, brush.get());
}

}  // namespace

void PaintProgressStrip(HDC dc, const AlertLayout& layout, uint64_t soFar, uint64_t total) {
  ProgressStripGeometry g = ProgressStripFor(layout, soFar, total);
  FillWith(dc, g.strip, kStripColour);
  if (total != 0) {
    FillWith(dc, g.track, kTrackColour);
    FillWith(dc, g.filled, kFilledColour);
  }
  UniqueFont font(::CreateFontW(-16, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Arial"));
  HGDIOBJ previous = font ? ::SelectObject(dc, font.get()) : nullptr;
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, kTextColour);
  std::wstring text = ProgressStripText(soFar, total);
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &g.text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  if (previous) ::SelectObject(dc, previous);  // the font must not be selected when it goes
}

}  // namespace brivon
