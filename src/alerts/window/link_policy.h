// Which entry links a click may open. The alert document arrives over plain HTTP, so a link
// must never name a local program, a script or a file: only web addresses go to the browser,
// and only well-formed ones, since the shell hands the address to the browser's command line.
#pragma once

#include <string_view>

namespace brivon {

// True for an http or https address (either in any letter case) that WinINet can take apart,
// with a host, and without white space, double quotes or control characters anywhere. The
// bytes are read as the document's texts are (UTF-8, else Windows-1252).
bool IsBrowserLink(std::string_view link);

}  // namespace brivon
