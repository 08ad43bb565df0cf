// The benches' pictures: photo-like PNGs made on the spot, decoded as downloaded ones are.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <string>

namespace brivon::bench {

// The colour of the block in the middle of a picture made with one: where the screen shows it,
// the picture is drawn. Scaling keeps the middle of a block of one colour exact.
constexpr Gdiplus::ARGB kBlockColor = 0xFF10E070;

// A picture of two gradients and a few shapes as PNG bytes, with a block of kBlockColor over its
// middle half when asked; "" when GDI+ cannot make it. GDI+ must be running.
std::string PictureBytes(int width, int height, Gdiplus::ARGB from, Gdiplus::ARGB to, bool block = false);

}  // namespace brivon::bench
