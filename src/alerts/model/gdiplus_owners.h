// Owners for GDI+ objects and the COM streams they are made from, and the start-up guard.
// Every GDI+ object must be gone before GdiplusShutdown: keep owners inside the guard's scope.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>
#include <new>
#include <utility>

#include "common/unique_handle.h"

namespace brivon {

// Deleting through GdiplusBase frees with GdipFree, the allocator these objects come from.
using UniqueBitmap = std::unique_ptr<Gdiplus::Bitmap>;
using UniqueGraphics = std::unique_ptr<Gdiplus::Graphics>;

// A bitmap (of type Made, a Gdiplus::Bitmap) in GDI+'s own memory, which the owner frees with
// GdipFree; none when that allocator answers null, which a plain new-expression would not check.
template <typename Made = Gdiplus::Bitmap, typename... Arguments>
UniqueBitmap MakeBitmap(Arguments&&... arguments) {
  void* memory = Gdiplus::DllExports::GdipAlloc(sizeof(Made));
  if (memory == nullptr) return nullptr;
  return UniqueBitmap(::new (memory) Made(std::forward<Arguments>(arguments)...));
}

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
