#include "alerts/window/progress_strip.h"

#include <algorithm>
#include <cmath>

#include "common/unique_handle.h"

namespace brivon {
namespace {

constexpr int kTrackTop = 7;  // below the strip's top edge
constexpr int kTrackHeight = 8;
constexpr int kTextMargin = 40;

constexpr uint64_t kMegabyte = 1024 * 1024;

std::wstring Megabytes(uint64_t bytes) {
  // One decimal with a decimal comma, as the people at the desk write it.
  uint64_t tenths = (bytes * 10 + 512 * 1024) / kMegabyte;
  return std::to_wstring(tenths / 10) + L"," + std::to_wstring(tenths % 10);
}

// Whole kilobytes, and never 0 for a byte or more: a small package's "0,0 de 0,0 MB" said nothing.
std::wstring Kilobytes(uint64_t bytes) {
  const uint64_t kilobytes = (bytes + 512) / 1024;
  return std::to_wstring(kilobytes == 0 && bytes != 0 ? 1 : kilobytes);
}

// "<so far> de <total> MB", or in KB when the size (the total, or what came so far) is under a MB.
std::wstring Amount(uint64_t soFar, uint64_t total) {
  const uint64_t size = total != 0 ? total : soFar;
  const bool small = size < kMegabyte;
  const auto unit = small ? Kilobytes : Megabytes;
  if (total == 0) return unit(soFar) + (small ? L" KB" : L" MB");
  return unit(soFar) + L" de " + unit(total) + (small ? L" KB" : L" MB");
}

// Only a download of known size and an extraction that has given a percentage have a measure.
bool HasMeasure(const UpdateProgress& progress) {
  return progress.total != 0 &&
         (progress.stage == UpdateStage::Downloading || progress.stage == UpdateStage::Extracting);
}

uint64_t Percent(const UpdateProgress& progress) {
  return std::min<uint64_t>(100, progress.soFar * 100 / progress.total);
}

double Linear(int channel) {
  const double c = channel / 255.0;
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double Luminance(COLORREF colour) {
  return 0.2126 * Linear(GetRValue(colour)) + 0.7152 * Linear(GetGValue(colour)) + 0.0722 * Linear(GetBValue(colour));
}

void FillWith(HDC dc, const RECT& area, COLORREF colour) {
  UniqueBrush brush(::CreateSolidBrush(colour));
  if (brush) ::FillRect(dc, &area, brush.get());
}

}  // namespace

ProgressStripGeometry ProgressStripFor(const AlertLayout& layout, const UpdateProgress& progress) {
  ProgressStripGeometry g{};
  const int top = layout.height - layout.footerHeight;
  g.strip = {0, top, layout.width, layout.height};
  if (!HasMeasure(progress)) {
    g.text = g.strip;
    return g;
  }
  const int trackWidth = std::max(0, layout.width / 2);
  const int trackLeft = (layout.width - trackWidth) / 2;
  const int trackTop = top + kTrackTop;
  g.track = {trackLeft, trackTop, trackLeft + trackWidth, trackTop + kTrackHeight};
  const uint64_t done = std::min(progress.soFar, progress.total);
  const int filledWidth = static_cast<int>(static_cast<double>(trackWidth) * static_cast<double>(done) /
                                           static_cast<double>(progress.total));
  g.filled = {trackLeft, trackTop, trackLeft + filledWidth, trackTop + kTrackHeight};
  g.text = {kTextMargin, trackTop + kTrackHeight, layout.width - kTextMargin, layout.height};
  return g;
}

std::wstring ProgressStripText(const UpdateProgress& progress) {
  switch (progress.stage) {
    case UpdateStage::Downloading: {
      const std::wstring text = L"Descargando la actualizaci\u00f3n\u2026 ";
      if (progress.total == 0) return text + Amount(progress.soFar, 0) + L" recibidos";
      return text + std::to_wstring(Percent(progress)) + L" % (" + Amount(progress.soFar, progress.total) + L")";
    }
    case UpdateStage::Extracting:
      if (progress.total == 0) return L"Descomprimiendo\u2026";
      return L"Descomprimiendo\u2026 " + std::to_wstring(Percent(progress)) + L" %";
    case UpdateStage::Installing:
      return L"Instalando\u2026";
    case UpdateStage::KeepingPrevious:
      return L"Guardando la versi\u00f3n anterior\u2026";
    case UpdateStage::NeedsFreeSpace:
      return L"La actualizaci\u00f3n necesita m\u00e1s espacio libre en el disco";
  }
  return std::wstring();
}

double ContrastRatio(COLORREF a, COLORREF b) {
  const double la = Luminance(a);
  const double lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

void PaintProgressStrip(HDC dc, const AlertLayout& layout, const UpdateProgress& progress) {
  ProgressStripGeometry g = ProgressStripFor(layout, progress);
  FillWith(dc, g.strip, kStripColour);
  if (HasMeasure(progress)) {
    FillWith(dc, g.track, kStripTrackColour);
    FillWith(dc, g.filled, kStripBarColour);
  }
  UniqueFont font(::CreateFontW(-kStripTextPixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Arial"));
  HGDIOBJ previous = font ? ::SelectObject(dc, font.get()) : nullptr;
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, kStripTextColour);
  std::wstring text = ProgressStripText(progress);
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &g.text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  if (previous) ::SelectObject(dc, previous);  // the font must not be selected when it goes
}

}  // namespace brivon
