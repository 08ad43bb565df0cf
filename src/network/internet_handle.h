// The owner of WinINet's sessions, connections and requests.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "common/unique_handle.h"

namespace brivon {

struct InternetTraits {
  static HINTERNET Invalid() { return nullptr; }
  static void Close(HINTERNET h) { ::InternetCloseHandle(h); }
};

// Declare the session before the connection and the request: they then close in reverse order.
using UniqueInternet = UniqueAny<HINTERNET, InternetTraits>;

}  // namespace brivon
