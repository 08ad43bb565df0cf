// Conversions between the program's 8-bit texts and its UTF-16 paths and window texts.
#pragma once

#include <string>
#include <string_view>

namespace brivon {

// Keeps the low 8 bits of each UTF-16 code unit: how paths enter the 8-bit activity logs,
// so Latin-1 letters land as their Windows-1252 byte and others as their low byte.
std::string NarrowLow8(std::wstring_view wide);

// UTF-8 <-> UTF-16. Invalid UTF-8 bytes become U+FFFD rather than failing.
std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);

// Windows-1252 (the program's own Spanish texts) -> UTF-16.
std::wstring Cp1252ToWide(std::string_view text);

// The system code page -> UTF-16: what Windows' 8-bit entry points do with an address.
std::wstring AnsiToWide(std::string_view text);

}  // namespace brivon
