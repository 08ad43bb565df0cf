#include "picture_bytes.h"

#include "alerts/model/gdiplus_owners.h"
#include "alerts/window/png_encoder.h"

namespace brivon::bench {

std::string PictureBytes(int width, int height, Gdiplus::ARGB from, Gdiplus::ARGB to, bool block) {
  Gdiplus::Bitmap source(width, height, PixelFormat24bppRGB);
  {
    Gdiplus::Graphics graphics(&source);
    Gdiplus::LinearGradientBrush gradient(Gdiplus::Point(0, 0), Gdiplus::Point(width, height), Gdiplus::Color(from),
                                          Gdiplus::Color(to));
    graphics.FillRectangle(&gradient, 0, 0, width, height);
    Gdiplus::SolidBrush spot{Gdiplus::Color(0x80FFFFFF)};
    for (int i = 0; i < 12; ++i) {
      graphics.FillEllipse(&spot, (i * 97) % width, (i * 61) % height, width / 6, height / 6);
    }
    if (block) {
      Gdiplus::SolidBrush middle{Gdiplus::Color(kBlockColor)};
      graphics.FillRectangle(&middle, width / 4, height / 4, width / 2, height / 2);
    }
  }
  CLSID png{};
  IStream* raw = nullptr;
  if (!FindPngEncoder(&png) || ::CreateStreamOnHGlobal(nullptr, TRUE, &raw) != S_OK) return {};
  UniqueStream stream(raw);
  if (source.Save(stream.get(), &png, nullptr) != Gdiplus::Ok) return {};
  STATSTG stat{};
  stream.get()->Stat(&stat, STATFLAG_NONAME);
  std::string bytes(static_cast<size_t>(stat.cbSize.QuadPart), '\0');
  LARGE_INTEGER zero{};
  stream.get()->Seek(zero, STREAM_SEEK_SET, nullptr);
  ULONG read = 0;
  stream.get()->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
  return bytes;
}

}  // namespace brivon::bench
