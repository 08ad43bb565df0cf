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

// The alert document's texts and addresses -> UTF-16: UTF-8 when the bytes are valid UTF-8,
// otherwise Windows-1252, byte for byte. ASCII stays as it is either way.
std::wstring DocumentTextToWide(std::string_view text);

// Windows-1252 (the program's own Spanish texts) -> UTF-16.
std::wstring Cp1252ToWide(std::string_view text);

// The system code page -> UTF-16: what Windows' 8-bit entry points do with an address.
std::wstring AnsiToWide(std::string_view text);

}  // namespace brivon
