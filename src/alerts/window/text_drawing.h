// Text of the alert windows: "Arial" in pixel sizes, centred both ways in a layout rectangle.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <string>
#include <string_view>

namespace brivon {

// The document's texts are UTF-8; a text that is not valid UTF-8 is read as Windows-1252, so
// a byte never disappears from what is drawn.
std::wstring AlertTextToWide(std::string_view text);

// Draws the whole text wrapped at word boundaries and clipped to the rectangle. Font, format
// and brush are made and deleted for each call.
void DrawCenteredText(Gdiplus::Graphics& graphics, const std::wstring& text, float pixelSize,
                      const Gdiplus::RectF& layoutRect, Gdiplus::ARGB color);

// The font and format of DrawCenteredText for one size, kept for repeated measuring.
class CenteredTextMeasure {
 public:
  explicit CenteredTextMeasure(float pixelSize);
  CenteredTextMeasure(const CenteredTextMeasure&) = delete;
  CenteredTextMeasure& operator=(const CenteredTextMeasure&) = delete;
  // Height of the text's bounding box laid out in 0, 0, width, height.
  float Height(Gdiplus::Graphics& graphics, const std::wstring& text, float width, float height) const;

 private:
  Gdiplus::FontFamily family_;
  Gdiplus::Font font_;
  Gdiplus::StringFormat format_;
};

}  // namespace brivon
