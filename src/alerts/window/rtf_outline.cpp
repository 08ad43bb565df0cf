#include "alerts/window/rtf_outline.h"

#include <cstdint>

namespace brivon {
namespace {

// Destinations whose text a reader keeps to itself.
constexpr std::string_view kUnshownDestinations[] = {
    "fonttbl", "colortbl", "stylesheet", "info", "pict", "header", "headerl", "headerr", "headerf",
    "footer", "footerl", "footerr", "footerf", "listtable", "listoverridetable", "revtbl", "rsidtbl",
    "generator", "xmlnstbl", "filetbl", "fldinst", "themedata", "colorschememapping", "datastore",
    "latentstyles", "pgdsctbl",
};

// Control words that stand for a printed character.
constexpr std::string_view kCharacterWords[] = {
    "bullet", "emdash", "endash", "lquote", "rquote", "ldblquote", "rdblquote",
    "chdate", "chdpl", "chdpa", "chtime", "chpgn",
};

template <size_t N>
bool IsOneOf(std::string_view word, const std::string_view (&words)[N]) {
  for (std::string_view w : words) {
    if (w == word) return true;
  }
  return false;
}

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A byte of the document's code page that prints nothing: controls, space, no-break space, soft hyphen.
bool IsBlankByte(uint32_t b) { return b <= 0x20 || b == 0x7F || b == 0xA0 || b == 0xAD; }

bool IsBlankCodePoint(int32_t value) {
  const uint32_t c = static_cast<uint32_t>(value < 0 ? value + 65536 : value);  // \u takes signed 16-bit values
  return c <= 0x20 || c == 0x7F || c == 0xA0 || c == 0xAD || (c >= 0x2000 && c <= 0x200F) || c == 0x2028 ||
         c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000 || c == 0xFEFF;
}

// \ucN is kept per group; groups deeper than this share the deepest one's.
constexpr size_t kTrackedDepth = 64;

}  // namespace

RtfOutline ReadRtfOutline(std::string_view d) {
  RtfOutline outline;
  size_t depth = 0;
  size_t unshownFrom = 0;  // the depth of the outermost group a reader does not show; 0: none
  bool groupStart = false;  // right after '{': a control word here names the group's destination
  int32_t fallbackLeft = 0;  // characters after \uN that stand in for it, for readers without Unicode
  int32_t fallbackPerGroup[kTrackedDepth + 1] = {1};
  const auto fallbackAt = [&](size_t at) -> int32_t& { return fallbackPerGroup[at < kTrackedDepth ? at : kTrackedDepth]; };
  const auto shown = [&] { return unshownFrom == 0 && depth > 0; };
  // A character of the text: a stand-in for the \uN before it, or shown.
  const auto character = [&](bool blank) {
    if (fallbackLeft > 0) {
      --fallbackLeft;
    } else if (!blank && shown()) {
      outline.visibleText = true;
    }
  };
  size_t i = 0;
  while (i < d.size()) {
    const char c = d[i];
    if (c == '{') {
      ++depth;
      if (depth <= kTrackedDepth) fallbackAt(depth) = fallbackAt(depth - 1);
      groupStart = true;
      fallbackLeft = 0;
      ++i;
      continue;
    }
    if (c == '}') {
      if (depth == 0) return outline;  // closes a group that never opened
      if (unshownFrom == depth) unshownFrom = 0;
      --depth;
      fallbackLeft = 0;
      ++i;
      if (depth == 0) {
        outline.groupEnd = i;
        return outline;
      }
      continue;
    }
    if (c == '\r' || c == '\n') {  // line breaks of the file are not text
      ++i;
      continue;
    }
    if (c != '\\') {
      groupStart = false;
      character(IsBlankByte(static_cast<unsigned char>(c)));
      ++i;
      continue;
    }
    if (i + 1 >= d.size()) break;
    const char next = d[i + 1];
    if (!IsLetter(next)) {  // a control symbol
      i += 2;
      if (next == '*') {  // an optional destination: readers that do not know it skip it whole
        if (groupStart && unshownFrom == 0) unshownFrom = depth;
        groupStart = false;
        continue;
      }
      groupStart = false;
      if (next == '\'') {
        int value = 0, digits = 0;
        while (digits < 2 && i < d.size() && HexValue(d[i]) >= 0) {
          value = value * 16 + HexValue(d[i]);
          ++digits;
          ++i;
        }
        character(IsBlankByte(static_cast<uint32_t>(value)));
      } else if (next == '{' || next == '}' || next == '\\' || next == '_') {
        character(false);
      } else if (next == '~' || next == '-') {  // a no-break space, an optional hyphen
        character(true);
      }
      continue;
    }
    // A control word: letters, an optional signed number, and the one space that ends it.
    size_t end = i + 1;
    while (end < d.size() && IsLetter(d[end])) ++end;
    const std::string_view word = d.substr(i + 1, end - i - 1);
    bool negative = false;
    if (end + 1 < d.size() && d[end] == '-' && IsDigit(d[end + 1])) {
      negative = true;
      ++end;
    }
    int64_t parameter = 0;
    bool hasParameter = false;
    while (end < d.size() && IsDigit(d[end])) {
      if (parameter < 1000000000) parameter = parameter * 10 + (d[end] - '0');
      hasParameter = true;
      ++end;
    }
    if (negative) parameter = -parameter;
    if (end < d.size() && d[end] == ' ') ++end;
    i = end;
    if (word == "bin") {  // raw data follows, braces and all: never text
      const uint64_t length = hasParameter && parameter > 0 ? static_cast<uint64_t>(parameter) : 0;
      i += length < d.size() - i ? static_cast<size_t>(length) : d.size() - i;
      groupStart = false;
      continue;
    }
    if (groupStart && unshownFrom == 0 && IsOneOf(word, kUnshownDestinations)) unshownFrom = depth;
    groupStart = false;
    if (word == "uc") {
      if (depth <= kTrackedDepth) fallbackAt(depth) = static_cast<int32_t>(parameter < 0 ? 0 : parameter);
    } else if (word == "u") {
      character(IsBlankCodePoint(static_cast<int32_t>(parameter)));
      fallbackLeft = fallbackAt(depth);
    } else if (IsOneOf(word, kCharacterWords)) {
      character(false);
    } else if (fallbackLeft > 0) {
      --fallbackLeft;  // any other control word counts as one stand-in character
    }
  }
  return outline;
}

}  // namespace brivon
