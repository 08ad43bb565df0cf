// The pixel size a picture declares in its header, read before anything is decoded, and the
// limits that keep a small file declaring enormous dimensions from being decoded at all.
#pragma once

#include <cstdint>
#include <string_view>

namespace brivon {

// One picture at most 16,777,216 pixels (64 MiB decoded at 4 bytes a pixel, 4096 x 4096); all the
// pictures of one document together at most three times that (192 MiB).
inline constexpr uint64_t kMaxPicturePixels = 16ull * 1024 * 1024;
inline constexpr uint64_t kMaxDocumentPicturePixels = 3 * kMaxPicturePixels;

// Width and height from the header of a PNG, JPEG, GIF, BMP or TIFF picture. False for any other
// format, a header cut short, and a size of 0 (a JPEG that gives its height only after its
// pixels): a picture whose size cannot be known beforehand is never decoded.
bool ReadPictureSize(std::string_view bytes, uint32_t& width, uint32_t& height);

// What the pictures of one document may still decode to, in pixels.
struct PictureBudget {
  uint64_t pixelsLeft = kMaxDocumentPicturePixels;
};

// Whether a picture of this size may be decoded: within the limit for one picture and what is left.
bool PictureFits(uint32_t width, uint32_t height, uint64_t pixelsLeft);

}  // namespace brivon
