#include "update/update_end_to_end_support.h"

#include <objidl.h>
#include <gdiplus.h>

#include <cstdio>
#include <regex>

#include "alerts/model/gdiplus_owners.h"
#include "alerts/window/png_encoder.h"
#include "common/text.h"

namespace brivon {
namespace update_e2e {

std::string FramedPicturePng(int w, int h) {
  GdiplusSession gdiplus;
  CLSID png;
  if (!gdiplus.started() || !brivon::FindPngEncoder(&png)) return {};
  IStream* raw = nullptr;
  if (::CreateStreamOnHGlobal(nullptr, TRUE, &raw) != S_OK) return {};
  UniqueStream stream(raw);
  {
    Gdiplus::Bitmap bitmap(w, h, PixelFormat24bppRGB);
    Gdiplus::Graphics graphics(&bitmap);
    graphics.Clear(Gdiplus::Color(0x10, 0x30, 0x80));
    Gdiplus::SolidBrush orange(Gdiplus::Color(0xF0, 0x90, 0x20));
    graphics.FillRectangle(&orange, 16, 16, w - 32, h - 32);
    if (bitmap.Save(stream.get(), &png, nullptr) != Gdiplus::Ok) return {};
  }
  STATSTG stat{};
  if (stream.get()->Stat(&stat, STATFLAG_NONAME) != S_OK) return {};
  std::string bytes(static_cast<size_t>(stat.cbSize.QuadPart), '\0');
  LARGE_INTEGER start{};
  stream.get()->Seek(start, STREAM_SEEK_SET, nullptr);
  ULONG read = 0;
  stream.get()->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
  bytes.resize(read);
  return bytes;
}

// build-X/artifacts/update_window, from where the test build keeps brivon.exe (build-X/bin).
std::wstring ArtifactsFolder() {
  std::wstring exe = testing::BrivonExePath();
  std::wstring build = exe.substr(0, exe.find_last_of(L'\\'));
  build = build.substr(0, build.find_last_of(L'\\'));
  std::wstring folder = build + L"\\artifacts\\update_window";
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(folder), ignored);
  return folder;
}
ScreenShot TakeScreenShot() {
  ScreenShot shot;
  shot.width = ::GetSystemMetrics(SM_CXSCREEN);
  shot.height = ::GetSystemMetrics(SM_CYSCREEN);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = shot.width;
  info.bmiHeader.biHeight = -shot.height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP section = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (section && bits) {
    HGDIOBJ previous = ::SelectObject(memory, section);
    ::BitBlt(memory, 0, 0, shot.width, shot.height, screen, 0, 0, SRCCOPY);
    ::GdiFlush();
    const auto* first = static_cast<const uint32_t*>(bits);
    shot.pixels.assign(first, first + static_cast<size_t>(shot.width) * shot.height);
    ::SelectObject(memory, previous);
  }
  if (section) ::DeleteObject(section);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  if (shot.pixels.empty()) shot.width = shot.height = 0;
  return shot;
}

bool SaveAsPng(const ScreenShot& shot, const std::wstring& path) {
  if (shot.pixels.empty()) return false;
  GdiplusSession gdiplus;
  CLSID png;
  if (!gdiplus.started() || !brivon::FindPngEncoder(&png)) return false;
  std::vector<uint32_t> copy = shot.pixels;
  Gdiplus::Bitmap bitmap(shot.width, shot.height, shot.width * 4, PixelFormat32bppRGB,
                         reinterpret_cast<BYTE*>(copy.data()));
  return bitmap.Save(path.c_str(), &png, nullptr) == Gdiplus::Ok;
}

std::wstring StampNow() {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  wchar_t text[32];
  std::swprintf(text, 32, L"%02u%02u%02u_%02u%02u%02u", t.wYear % 100u, t.wMonth, t.wDay, t.wHour, t.wMinute,
                t.wSecond);
  return text;
}

std::string UpdateEndToEnd::oldExe_;
std::string UpdateEndToEnd::newExe_;
std::string UpdateEndToEnd::picture_;

// The time-stamped folder an update run made in "\actualizaciones", checked against the run's times.
std::wstring OnlyStampFolder(const std::wstring& folder, const std::wstring& before, const std::wstring& after) {
  const std::vector<std::wstring> stamps = testing::EntryNames(folder + L"\\actualizaciones", true);
  EXPECT_EQ(stamps.size(), 1u);
  if (stamps.size() != 1) return L"?";
  static const std::wregex shape(LR"(\d{6}_\d{6})");
  EXPECT_TRUE(std::regex_match(stamps[0], shape)) << NarrowLow8(stamps[0]);
  EXPECT_LE(before, stamps[0]);
  EXPECT_LE(stamps[0], after);
  return stamps[0];
}

}  // namespace update_e2e
}  // namespace brivon
