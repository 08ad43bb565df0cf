#include "alerts/window/link_policy.h"

#include <windows.h>
#include <wininet.h>

#include <string>

#include "common/text.h"

namespace brivon {
namespace {

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    wchar_t c = text[i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// What could end the address early or start another argument on the browser's command line.
bool IsRefused(wchar_t c) {
  if (c <= 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F)) return true;  // controls and the space
  if (c == L'"') return true;
  switch (c) {
    case 0x00A0: case 0x1680: case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000: case 0xFEFF:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200B;
  }
}

}  // namespace

bool IsBrowserLink(std::string_view link) {
  const std::wstring wide = DocumentTextToWide(link);
  if (!StartsWithNoCase(wide, L"http://") && !StartsWithNoCase(wide, L"https://")) return false;
  for (wchar_t c : wide) {
    if (IsRefused(c)) return false;
  }
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = 1;
  if (!::InternetCrackUrlW(wide.c_str(), static_cast<DWORD>(wide.size()), 0, &parts)) return false;
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return false;
  return parts.dwHostNameLength > 0;
}

}  // namespace brivon
