// Pictures of one colour for the alert window tests, as a server would send them.
#pragma once

#include <cstdint>
#include <string>

namespace brivon::testing {

// A 24-bit bottom-up BMP of one colour: a picture GDI+ decodes, of any size.
inline std::string SolidBmp(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
  const uint32_t row = static_cast<uint32_t>((w * 3 + 3) & ~3);
  const uint32_t pixels = row * static_cast<uint32_t>(h);
  std::string bmp(54 + pixels, '\0');
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bmp[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  bmp[0] = 'B';
  bmp[1] = 'M';
  put32(2, static_cast<uint32_t>(bmp.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(w));
  put32(22, static_cast<uint32_t>(h));
  bmp[26] = 1;
  bmp[28] = 24;
  put32(34, pixels);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const size_t at = 54 + static_cast<size_t>(y) * row + static_cast<size_t>(x) * 3;
      bmp[at] = static_cast<char>(b);
      bmp[at + 1] = static_cast<char>(g);
      bmp[at + 2] = static_cast<char>(r);
    }
  }
  return bmp;
}

}  // namespace brivon::testing
