// Move-only owners for the handles the program opens: each closes exactly once, on every path.
#pragma once

#include <windows.h>

#include <utility>

namespace brivon {

// Owner of a handle-like value with a close function and an "invalid" value.
template <typename T, typename Traits>
class UniqueAny {
 public:
  UniqueAny() noexcept = default;
  explicit UniqueAny(T value) noexcept : value_(value) {}
  ~UniqueAny() { reset(); }

  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;
  UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  T get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Traits::Invalid(); }

  T release() noexcept { return std::exchange(value_, Traits::Invalid()); }
  void reset(T value = Traits::Invalid()) noexcept {
    T old = std::exchange(value_, value);
    if (old != Traits::Invalid()) Traits::Close(old);
  }

 private:
  T value_ = Traits::Invalid();
};

struct HandleTraits {  // processes, threads, events, mutexes: null when absent
  static HANDLE Invalid() { return nullptr; }
  static void Close(HANDLE h) { ::CloseHandle(h); }
};
struct FileTraits {  // CreateFile answers INVALID_HANDLE_VALUE on failure
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { ::CloseHandle(h); }
};
struct FindTraits {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { ::FindClose(h); }
};
struct ModuleTraits {
  static HMODULE Invalid() { return nullptr; }
  static void Close(HMODULE h) { ::FreeLibrary(h); }
};
struct GlobalTraits {
  static HGLOBAL Invalid() { return nullptr; }
  static void Close(HGLOBAL h) { ::GlobalFree(h); }
};
struct DcTraits {  // memory device contexts (CreateCompatibleDC)
  static HDC Invalid() { return nullptr; }
  static void Close(HDC dc) { ::DeleteDC(dc); }
};
template <typename T>
struct GdiObjectTraits {  // bitmaps, brushes, fonts: deselect them before the owner goes
  static T Invalid() { return nullptr; }
  static void Close(T object) { ::DeleteObject(object); }
};
template <typename Interface>
struct ComTraits {  // COM interfaces: one reference each
  static Interface* Invalid() { return nullptr; }
  static void Close(Interface* object) { object->Release(); }
};
struct WindowTraits {
  static HWND Invalid() { return nullptr; }
  static void Close(HWND window) { ::DestroyWindow(window); }
};

using UniqueHandle = UniqueAny<HANDLE, HandleTraits>;
using UniqueFile = UniqueAny<HANDLE, FileTraits>;
using UniqueFind = UniqueAny<HANDLE, FindTraits>;
using UniqueModule = UniqueAny<HMODULE, ModuleTraits>;
using UniqueGlobal = UniqueAny<HGLOBAL, GlobalTraits>;
using UniqueDc = UniqueAny<HDC, DcTraits>;
using UniqueGdiBitmap = UniqueAny<HBITMAP, GdiObjectTraits<HBITMAP>>;
using UniqueBrush = UniqueAny<HBRUSH, GdiObjectTraits<HBRUSH>>;
using UniqueFont = UniqueAny<HFONT, GdiObjectTraits<HFONT>>;
using UniqueWindow = UniqueAny<HWND, WindowTraits>;
template <typename Interface>
using UniqueCom = UniqueAny<Interface*, ComTraits<Interface>>;

}  // namespace brivon
