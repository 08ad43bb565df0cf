#include "alerts/window/paint_cache.h"

namespace brivon {

void PaintCache::Prepare(HDC windowDc, int width, int height) {
  Begin(windowDc, width, height);
}

HDC PaintCache::Begin(HDC windowDc, int width, int height) {
  if (dc_ && width == width_ && height == height_) {
    ready_ = false;
    return dc_.get();
  }
  Drop();
  if (width <= 0 || height <= 0) return nullptr;
  UniqueDc dc(::CreateCompatibleDC(windowDc));
  UniqueGdiBitmap bitmap(::CreateCompatibleBitmap(windowDc, width, height));
  if (!dc || !bitmap) return nullptr;
  previous_ = ::SelectObject(dc.get(), bitmap.get());
  if (!previous_ || previous_ == HGDI_ERROR) {
    previous_ = nullptr;
    return nullptr;
  }
  dc_ = std::move(dc);
  bitmap_ = std::move(bitmap);
  width_ = width;
  height_ = height;
  return dc_.get();
}

void PaintCache::CopyTo(HDC dc, const RECT& area) const {
  if (!ready_) return;
  ::BitBlt(dc, area.left, area.top, area.right - area.left, area.bottom - area.top, dc_.get(), area.left, area.top,
           SRCCOPY);
}

void PaintCache::Drop() {
  ready_ = false;
  if (dc_ && previous_) ::SelectObject(dc_.get(), previous_);
  previous_ = nullptr;
  dc_.reset();
  bitmap_.reset();
  width_ = height_ = 0;
}

}  // namespace brivon
