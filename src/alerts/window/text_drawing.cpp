#include "alerts/window/text_drawing.h"

#include "common/text.h"

namespace brivon {
namespace {

constexpr wchar_t kFontFamily[] = L"Arial";

void CentreBothWays(Gdiplus::StringFormat& format) {
  format.SetAlignment(Gdiplus::StringAlignmentCenter);
  format.SetLineAlignment(Gdiplus::StringAlignmentCenter);
}

}  // namespace

std::wstring AlertTextToWide(std::string_view text) { return DocumentTextToWide(text); }

void DrawCenteredText(Gdiplus::Graphics& graphics, const std::wstring& text, float pixelSize,
                      const Gdiplus::RectF& layoutRect, Gdiplus::ARGB color) {
  Gdiplus::FontFamily family(kFontFamily, nullptr);
  Gdiplus::Font font(&family, pixelSize, Gdiplus::FontStyleRegular, Gdiplus::UnitPixel);
  Gdiplus::StringFormat format(0, LANG_NEUTRAL);
  CentreBothWays(format);
  Gdiplus::SolidBrush brush{Gdiplus::Color(color)};
  graphics.DrawString(text.c_str(), -1, &font, layoutRect, &format, &brush);
}

CenteredTextMeasure::CenteredTextMeasure(float pixelSize)
    : family_(kFontFamily, nullptr),
      font_(&family_, pixelSize, Gdiplus::FontStyleRegular, Gdiplus::UnitPixel),
      format_(0, LANG_NEUTRAL) {
  CentreBothWays(format_);
}

float CenteredTextMeasure::Height(Gdiplus::Graphics& graphics, const std::wstring& text, float width,
                                  float height) const {
  Gdiplus::RectF box;
  graphics.MeasureString(text.c_str(), -1, &font_, Gdiplus::RectF(0, 0, width, height), &format_, &box);
  return box.Height;
}

}  // namespace brivon
