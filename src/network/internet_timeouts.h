// Time limits for a WinINet connection. Windows' WinINet gives up on a silent server after its
// default receive limit; Wine's has no limit at all, and a server that accepts the connection and
// then says nothing would hold the program for good: at start-up before any window, or in an update
// window that only the update's end can close, with the installed executable set aside meanwhile.
// The limits are Windows' own defaults, set on the connection handle, where both honour them.
#pragma once

#include <windows.h>
#include <wininet.h>

namespace brivon {

inline constexpr DWORD kConnectTimeoutMs = 60 * 1000;
inline constexpr DWORD kSendTimeoutMs = 30 * 1000;
inline constexpr DWORD kReceiveTimeoutMs = 30 * 1000;

// Best effort: a handle that refuses an option keeps its own limit.
inline void SetConnectionTimeouts(HINTERNET connection, DWORD receiveTimeoutMs = kReceiveTimeoutMs) {
  DWORD connect = kConnectTimeoutMs;
  DWORD send = kSendTimeoutMs;
  DWORD receive = receiveTimeoutMs;
  ::InternetSetOptionW(connection, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof(connect));
  ::InternetSetOptionW(connection, INTERNET_OPTION_SEND_TIMEOUT, &send, sizeof(send));
  ::InternetSetOptionW(connection, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof(receive));
}

}  // namespace brivon
