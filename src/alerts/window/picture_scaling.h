// Scaling of premultiplied 32-bit pixels (0xAARRGGBB), done by the program itself: a separable
// tent filter, as wide as one source pixel when enlarging (bilinear) and as wide as the step
// between destination pixels when shrinking, so every source pixel counts and nothing aliases.
// It is a plain function over pixel rows, so the copies a worker scales ahead and those a paint
// scales for itself are the same pixels, and it takes a few milliseconds where the system's
// scaling of a full-screen picture takes a good part of a second under some GDI+ implementations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace brivon {

// Where one destination pixel takes its value from along one axis: source pixels first..first +
// weights.size() - 1, weighted in 1/16384ths that sum to 16384.
struct FilterTap {
  int32_t first = 0;
  std::vector<int32_t> weights;
};

// The taps of every destination pixel when sourceCount pixels are scaled to destinationCount
// (both at least 1). Pixels past an edge count as the edge pixel.
std::vector<FilterTap> TentTaps(int32_t sourceCount, int32_t destinationCount);

// Rows of pixels, stride in pixels.
struct PixelRows {
  uint32_t* pixels = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  int32_t stride = 0;
};
struct ConstPixelRows {
  const uint32_t* pixels = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  int32_t stride = 0;
};

// source scaled into destination's whole size, premultiplied in and out. False when either is
// empty or memory runs out.
bool ScalePixels(const ConstPixelRows& source, const PixelRows& destination);

// Premultiplied pixels laid over an opaque colour (0xRRGGBB): what a paint shows over it.
void LayOverOpaque(const PixelRows& pixels, uint32_t backdrop);

}  // namespace brivon
