// What an alert window shows, drawn once. Scaling the pictures is nearly all of a paint (a tenth
// of a second and more at full screen), and a window is painted again whenever something passes
// over it: every later paint copies the finished picture instead of drawing it anew.
#pragma once

#include <windows.h>

#include "common/unique_handle.h"

namespace brivon {

class PaintCache {
 public:
  PaintCache() = default;
  PaintCache(const PaintCache&) = delete;
  PaintCache& operator=(const PaintCache&) = delete;
  ~PaintCache() { Drop(); }

  // Whether a finished picture of this size is kept.
  bool Holds(int width, int height) const { return ready_ && width == width_ && height == height_; }

  // Makes the surface ahead of the first paint, when the window is created and nothing is on the
  // screen yet: the first paint then only draws and copies. Nothing is kept yet.
  void Prepare(HDC windowDc, int width, int height);

  // A surface of the given size, compatible with windowDc (the prepared one when it fits), to draw
  // the window's picture on once; null when the system has no memory for it (the caller then
  // draws straight onto the window, as every time). The picture is kept only once Finish is called.
  HDC Begin(HDC windowDc, int width, int height);
  void Finish() { ready_ = static_cast<bool>(dc_); }

  // Copies the part in area of the kept picture onto dc.
  void CopyTo(HDC dc, const RECT& area) const;

  // Forgets the picture: the next paint draws anew on the same surface.
  void Forget() { ready_ = false; }

  // Forgets the picture and lets the surface go (a new size or another screen depth).
  void Drop();

 private:
  UniqueDc dc_;
  UniqueGdiBitmap bitmap_;
  HGDIOBJ previous_ = nullptr;  // what dc_ held before bitmap_, put back before either goes
  int width_ = 0;
  int height_ = 0;
  bool ready_ = false;
};

}  // namespace brivon
