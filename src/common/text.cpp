#include "common/text.h"

#include <windows.h>

namespace brivon {
namespace {

std::wstring ToWide(UINT codePage, std::string_view text) {
  if (text.empty()) return {};
  int needed = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (needed <= 0) return {};
  std::wstring out(static_cast<size_t>(needed), L'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), needed);
  return out;
}

}  // namespace

std::string NarrowLow8(std::wstring_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (wchar_t c : wide) out.push_back(static_cast<char>(static_cast<unsigned>(c) & 0xFFu));
  return out;
}

std::wstring Utf8ToWide(std::string_view utf8) { return ToWide(CP_UTF8, utf8); }

std::wstring DocumentTextToWide(std::string_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int units = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
  if (units <= 0) return Cp1252ToWide(text);
  std::wstring wide(static_cast<size_t>(units), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, wide.data(), units);
  return wide;
}

std::wstring Cp1252ToWide(std::string_view text) { return ToWide(1252, text); }

std::wstring AnsiToWide(std::string_view text) { return ToWide(CP_ACP, text); }

std::string WideToUtf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  int needed = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                     nullptr, nullptr);
  if (needed <= 0) return {};
  std::string out(static_cast<size_t>(needed), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), needed, nullptr,
                        nullptr);
  return out;
}

}  // namespace brivon
