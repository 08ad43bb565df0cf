// What an answer's headers say about its body, read more strictly than WinINet reads them: every
// occurrence of a header (WinINet itself looks at the first alone), and a length that is no
// number taken as a fault rather than as no length.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <cwctype>
#include <string>
#include <string_view>
#include <vector>

namespace brivon {

// The longest Content-Length taken: a size in 64 bits has at most 20 digits, with room for
// leading zeros.
inline constexpr size_t kLongestLengthText = 31;

// A Content-Length header's value as a length: decimal digits alone, spaces around them allowed,
// at most kLongestLengthText characters and within 64 bits. False for anything else (a sign,
// letters, nothing).
inline bool ParseContentLength(std::wstring_view text, uint64_t& length) {
  const size_t first = text.find_first_not_of(L" \t");
  if (first == std::wstring_view::npos) return false;
  text = text.substr(first, text.find_last_not_of(L" \t") - first + 1);
  if (text.size() > kLongestLengthText) return false;
  uint64_t value = 0;
  for (const wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - L'0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  length = value;
  return true;
}

// Every occurrence of a header, in order. False when one cannot be read.
inline bool HeaderValues(HINTERNET request, DWORD query, std::vector<std::wstring>& values) {
  constexpr DWORD kMostOccurrences = 64;  // a server that repeats a header without end
  values.clear();
  std::wstring text(64, L'\0');
  for (DWORD index = 0; index < kMostOccurrences;) {
    const DWORD asked = index;
    DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (::HttpQueryInfoW(request, query, &text[0], &size, &index)) {
      values.emplace_back(text.data(), size / sizeof(wchar_t));
      if (index <= asked) index = asked + 1;
      continue;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_HTTP_HEADER_NOT_FOUND) return true;
    if (error != ERROR_INSUFFICIENT_BUFFER || size / sizeof(wchar_t) < text.size()) return false;
    text.assign(size / sizeof(wchar_t) + 1, L'\0');
    index = asked;
  }
  return true;
}

namespace answer_headers_detail {

inline std::wstring LowerCase(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(::towlower(c));
  return text;
}

}  // namespace answer_headers_detail

// Whether the body comes in chunks: chunked in any Transfer-Encoding header. One that cannot be
// read counts as chunked.
inline bool SaysChunked(HINTERNET request) {
  std::vector<std::wstring> values;
  if (!HeaderValues(request, HTTP_QUERY_TRANSFER_ENCODING, values)) return true;
  for (const std::wstring& value : values) {
    if (answer_headers_detail::LowerCase(value).find(L"chunked") != std::wstring::npos) return true;
  }
  return false;
}

// Whether the body is sent as it is: no Content-Encoding header, or identity alone in every one.
inline bool SentAsItIs(HINTERNET request) {
  std::vector<std::wstring> values;
  if (!HeaderValues(request, HTTP_QUERY_CONTENT_ENCODING, values)) return false;
  for (const std::wstring& value : values) {
    const std::wstring lower = answer_headers_detail::LowerCase(value);
    for (size_t start = 0; start <= lower.size();) {
      size_t end = lower.find(L',', start);
      if (end == std::wstring::npos) end = lower.size();
      std::wstring_view coding(lower.data() + start, end - start);
      const size_t first = coding.find_first_not_of(L" \t");
      if (first != std::wstring_view::npos) {
        coding = coding.substr(first, coding.find_last_not_of(L" \t") - first + 1);
        if (coding != L"identity") return false;
      }
      start = end + 1;
    }
  }
  return true;
}

enum class LengthHeader { None, Valid, Bad };

// The Content-Length: none, one length (every occurrence the same), or a fault.
inline LengthHeader ReadContentLength(HINTERNET request, uint64_t& length) {
  std::vector<std::wstring> values;
  if (!HeaderValues(request, HTTP_QUERY_CONTENT_LENGTH, values)) return LengthHeader::Bad;
  if (values.empty()) return LengthHeader::None;
  for (size_t i = 0; i < values.size(); ++i) {
    uint64_t value = 0;
    if (!ParseContentLength(values[i], value) || (i > 0 && value != length)) return LengthHeader::Bad;
    length = value;
  }
  return LengthHeader::Valid;
}

}  // namespace brivon
