// The strip at the bottom of an update window that shows how far the package download has come.
// An update window has no close bar, so the strip takes the bottom bar's place and never covers
// the update picture.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "alerts/window/alert_layout.h"

namespace brivon {

struct ProgressStripGeometry {
  RECT strip;  // the whole strip: what is repainted on each report
  RECT track;  // the bar's track (empty when the size is unknown)
  RECT filled; // the part of the track already downloaded
  RECT text;
};

ProgressStripGeometry ProgressStripFor(const AlertLayout& layout, uint64_t soFar, uint64_t total);

// "Descargando la actualización: 45 % (12,3 de 27,4 MB)"; without a known size
// "Descargando la actualización: 12,3 MB recibidos".
std::wstring ProgressStripText(uint64_t soFar, uint64_t total);

// Paints the strip with GDI into dc (a window DC or a paint DC).
void PaintProgressStrip(HDC dc, const AlertLayout& layout, uint64_t soFar, uint64_t total);

}  // namespace brivon
