// PNG and JPEG bodies decoded through the Windows Imaging Component into premultiplied 32-bit
// pixels of our own. Unlike GDI+, which makes no bitmap before the display is up, WIC needs no
// display: the pictures decode while the first window is still being made.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "alerts/window/picture_size.h"

namespace brivon {

// Rows of B, G, R, A bytes, colour premultiplied by alpha, 4 * width bytes a row, top row first.
struct DecodedPixels {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> bgra;
};

enum class WicDecoding {
  Decoded,     // pixels holds the picture
  Refused,     // it decodes to another size than its header declared: never decoded
  NotHandled,  // not for this decoder (another format, WIC absent, a body it cannot read)
};

// Whether body starts as a PNG or a JPEG does: the formats decoded here.
bool DecodesThroughWic(std::string_view body);

// Decodes body (admitted against its header's size, declared) into pixels.
WicDecoding DecodeThroughWic(std::string_view body, const PictureSize& declared, DecodedPixels& pixels);

}  // namespace brivon
