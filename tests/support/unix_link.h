// Directory links as Wine shows them: CreateSymbolicLinkW does nothing under Wine 8, but a Unix
// symbolic link made on the Linux side is listed as a folder carrying a reparse point. The test
// make_unix_links (make_unix_links.sh) lays out the scenes before the tests run.
#pragma once

#include <windows.h>

#include <string>

#include "support/test_env.h"

namespace brivon::testing {

// What a row that needs a scene says where there is none.
constexpr char kNeedsUnixLinks[] = "needs the Unix folder links that make_unix_links.sh lays out on the Linux bench";

// The scene's folder (holding "fuera" and "programa"), or "" when its links are not (or no
// longer) there: each scene serves one run, the set-up makes them afresh. The kit has none, even
// under Wine on a host that has a bench.
inline std::wstring UnixLinkScene(const char* scene) {
  if (!KitRoot().empty()) return L"";
  const std::wstring base = HostPathToWindows(std::string(BRIVON_TEST_LINKS_DIR) + "/" + scene);
  for (const wchar_t* link : {L"\\programa\\actualizaciones\\enlace",
                              L"\\programa\\actualizaciones\\251206_093015\\enlace"}) {
    const DWORD attributes = ::GetFileAttributesW((base + link).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return L"";
  }
  return base;
}

}  // namespace brivon::testing
