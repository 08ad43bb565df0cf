// The outline of an RTF document, read over its bytes as a rich-text reader reads them: where its
// top-level group closes, and whether it holds any text the reader would show.
#pragma once

#include <cstddef>
#include <string_view>

namespace brivon {

struct RtfOutline {
  // The bytes up to and with the brace that closes the top-level group; 0 when it never closes.
  size_t groupEnd = 0;
  // A character other than white space, outside the groups a reader does not show (font and
  // colour tables, style sheets, document information, headers, pictures, field instructions,
  // every {\* ...} group) and outside \bin data.
  bool visibleText = false;
};

RtfOutline ReadRtfOutline(std::string_view document);

}  // namespace brivon
