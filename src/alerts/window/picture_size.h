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
// The bodies the pictures of one document are decoded from, together at most 64 MiB: a body may
// be 32 MiB of padding around a picture of one pixel, which the pixel limits never see.
inline constexpr uint64_t kMaxDocumentPictureBytes = 64ull * 1024 * 1024;

// What the header of a picture says of its size.
struct PictureSize {
  uint32_t width = 0;
  uint32_t height = 0;
  // A GIF's first frame where it lies within the screen the header gives, else 0 x 0: Windows'
  // decoder gives a GIF its screen's size, Wine's its first frame's.
  uint32_t frameWidth = 0;
  uint32_t frameHeight = 0;
};

// The size from the header of a PNG, JPEG, GIF, BMP or TIFF picture. False for any other format,
// a header cut short, a size of 0 (a JPEG that gives its height only after its pixels) and a TIFF
// that names a tag twice (decoders disagree on which one counts): a picture whose size cannot be
// known beforehand is never decoded.
bool ReadPictureSize(std::string_view bytes, PictureSize& size);

// Whether a decoder that made width x height of a picture read the size its header declares. Any
// other size means the decoder took its size from other bytes than the header's reader did, and
// the pixels it makes were never weighed against the limits.
bool DecodedAsDeclared(const PictureSize& declared, uint32_t width, uint32_t height);

// What the pictures of one document may still decode to, in pixels, and from how many bytes.
struct PictureBudget {
  uint64_t pixelsLeft = kMaxDocumentPicturePixels;
  uint64_t bytesLeft = kMaxDocumentPictureBytes;
};

// Whether a picture of this size may be decoded: within the limit for one picture and what is left.
bool PictureFits(uint32_t width, uint32_t height, uint64_t pixelsLeft);

}  // namespace brivon
