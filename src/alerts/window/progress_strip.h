// The strip at the bottom of an update window that says what the update is doing and, where one
// can be had, how far it has come. An update window has no close bar, so the strip takes the
// bottom bar's place and never covers the update picture.
#pragma once

#include <windows.h>

#include <string>

#include "alerts/window/alert_layout.h"
#include "update/update_run.h"

namespace brivon {

// Light on dark, legible from across a desk: the text and the bar each stand out from the strip
// by more than 4.5 to 1.
inline constexpr COLORREF kStripColour = RGB(0x20, 0x20, 0x20);
inline constexpr COLORREF kStripTrackColour = RGB(0x4A, 0x4A, 0x4A);
inline constexpr COLORREF kStripBarColour = RGB(0x4C, 0xC2, 0xFF);
inline constexpr COLORREF kStripTextColour = RGB(0xFF, 0xFF, 0xFF);
inline constexpr int kStripTextPixels = 22;

struct ProgressStripGeometry {
  RECT strip;  // the whole strip: what is repainted on each report
  RECT track;  // the bar's track (empty when there is no measure)
  RECT filled; // the part of the track already done
  RECT text;
};

ProgressStripGeometry ProgressStripFor(const AlertLayout& layout, const UpdateProgress& progress);

// "Descargando la actualización… 45 % (12,3 de 27,4 MB)", "Descomprimiendo… 37 %",
// "Instalando…", "Guardando la versión anterior…".
std::wstring ProgressStripText(const UpdateProgress& progress);

// The contrast ratio of two colours as the accessibility guidelines define it, 1 to 21.
double ContrastRatio(COLORREF a, COLORREF b);

// Paints the strip with GDI into dc (a window DC or a paint DC).
void PaintProgressStrip(HDC dc, const AlertLayout& layout, const UpdateProgress& progress);

}  // namespace brivon
