// Which entry links a click may open. The alert document arrives over plain HTTP, so a link
// must never name a local program, a script or a file: only web addresses go to the browser.
#pragma once

#include <string_view>

namespace brivon {

// True when the link starts with "http://" or "https://", in any letter case.
bool IsBrowserLink(std::string_view link);

}  // namespace brivon
