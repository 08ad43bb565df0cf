// The PNG encoder of GDI+, for pictures the program's tools write.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cwchar>
#include <vector>

namespace brivon {

// False when GDI+ offers no PNG encoder (or is not running).
inline bool FindPngEncoder(CLSID* clsid) {
  UINT count = 0, size = 0;
  if (Gdiplus::GetImageEncodersSize(&count, &size) != Gdiplus::Ok || size == 0) return false;
  std::vector<BYTE> buffer(size);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  if (Gdiplus::GetImageEncoders(count, size, codecs) != Gdiplus::Ok) return false;
  for (UINT i = 0; i < count; ++i) {
    if (std::wcscmp(codecs[i].MimeType, L"image/png") == 0) {
      *clsid = codecs[i].Clsid;
      return true;
    }
  }
  return false;
}

}  // namespace brivon
