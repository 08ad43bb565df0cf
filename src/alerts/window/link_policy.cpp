#include "alerts/window/link_policy.h"

namespace brivon {
namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

}  // namespace

bool IsBrowserLink(std::string_view link) {
  return StartsWithNoCase(link, "http://") || StartsWithNoCase(link, "https://");
}

}  // namespace brivon
