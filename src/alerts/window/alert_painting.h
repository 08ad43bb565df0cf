// The painters of an alert window. They draw straight onto the surface of a paint and record in
// each drawn entry's hitRect where its picture lies; they write nothing else.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstddef>

#include "alerts/model/alert_model.h"
#include "alerts/window/alert_layout.h"
#include "alerts/window/scaled_pictures.h"

namespace brivon {

inline constexpr Gdiplus::ARGB kCloseBarColor = 0xFF0078D7;
inline constexpr Gdiplus::ARGB kCloseBarTextColor = 0xFFFFFFFF;
inline constexpr wchar_t kCloseBarText[] = L"CERRAR";

// Background, title band and, unless the alert is an update (which only its end may close),
// the close bar. alert may be null.
void PaintAlertFrame(Gdiplus::Graphics& graphics, const AlertLayout& layout, const AlertDocument& document,
                     const Alert* alert);

// scaled, when given, holds copies of the pictures already scaled: one of the size a picture is
// drawn at is drawn instead of scaling the picture again, to the same pixels. Each answers how
// many pictures it had to scale itself.
size_t PaintBotonMultiple(Gdiplus::Graphics& graphics, const AlertLayout& layout, Alert& alert,
                          const ScaledPictures* scaled = nullptr);
size_t PaintBotonUnico(Gdiplus::Graphics& graphics, const AlertLayout& layout, Alert& alert,
                       const ScaledPictures* scaled = nullptr);
size_t PaintSoloMensaje(Gdiplus::Graphics& graphics, const AlertLayout& layout, Alert& alert,
                        const ScaledPictures* scaled = nullptr);

// One whole paint of what this file draws: the frame, every hitRect zeroed, then the painter of
// the alert's kind (terms and update alerts get their controls and picture elsewhere).
void PaintAlert(Gdiplus::Graphics& graphics, const AlertLayout& layout, const AlertDocument& document, Alert* alert,
                const ScaledPictures* scaled = nullptr);

}  // namespace brivon
