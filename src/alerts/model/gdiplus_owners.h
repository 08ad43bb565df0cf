// Owners for GDI+ objects and the COM streams they are made from, and the start-up guard.
// Every GDI+ object must be gone before GdiplusShutdown: keep owners inside the guard's scope.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>

#include "common/unique_handle.h"

namespace brivon {

// Deleting through GdiplusBase frees with GdipFree, the allocator these objects come from.
using UniqueBitmap = std::unique_ptr<Gdiplus::Bitmap>;
using UniqueGraphics = std::unique_ptr<Gdiplus::Graphics>;

struct StreamTraits {
  static IStream* Invalid() { return nullptr; }
  static void Close(IStream* s) { s->Release(); }
};
using UniqueStream = UniqueAny<IStream*, StreamTraits>;

// GdiplusStartup in the constructor, GdiplusShutdown in the destructor when the start worked.
class GdiplusSession {
 public:
  GdiplusSession() noexcept {
    Gdiplus::GdiplusStartupInput input;
    started_ = Gdiplus::GdiplusStartup(&token_, &input, nullptr) == Gdiplus::Ok;
  }
  ~GdiplusSession() {
    if (started_) Gdiplus::GdiplusShutdown(token_);
  }
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;

  bool started() const noexcept { return started_; }

 private:
  ULONG_PTR token_ = 0;
  bool started_ = false;
};

}  // namespace brivon
