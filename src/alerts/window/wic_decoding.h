// PNG and JPEG bodies decoded through the Windows Imaging Component into pixels of our own. Unlike
// GDI+, which makes no bitmap before the display is up, WIC needs no display: the pictures decode
// while the first window is still being made.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "alerts/window/picture_size.h"
#include "common/unique_handle.h"

struct IWICImagingFactory;

namespace brivon {

// Rows of decoded pixels, top row first, 4 * width bytes a row: B, G, R, A with colour
// premultiplied by alpha, as the painters draw fastest and a bitmap can read them in place.
struct DecodedPixels {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rows;
};

enum class WicDecoding {
  Decoded,     // pixels holds the picture
  Refused,     // it decodes to another size than its header declared: never decoded
  NotHandled,  // not for this decoder (another format, WIC absent, a body it cannot read)
};

// Whether body starts as a PNG or a JPEG does: the formats decoded here.
bool DecodesThroughWic(std::string_view body);

// One thread's decoder: COM joined and the imaging factory made once, ahead of its pictures, for
// all of them. A thread already in an apartment of another kind (a window's) decodes in that one.
class WicDecoder {
 public:
  WicDecoder() noexcept;
  ~WicDecoder();
  WicDecoder(const WicDecoder&) = delete;
  WicDecoder& operator=(const WicDecoder&) = delete;

  // Decodes body (admitted against its header's size, declared) into pixels.
  WicDecoding Decode(std::string_view body, const PictureSize& declared, DecodedPixels& pixels);

 private:
  bool joined_ = false;  // this thread's COM, left again at the end
  UniqueCom<IWICImagingFactory> factory_;
};

// A decoding on its own, with a decoder made for it.
WicDecoding DecodeThroughWic(std::string_view body, const PictureSize& declared, DecodedPixels& pixels);

}  // namespace brivon
