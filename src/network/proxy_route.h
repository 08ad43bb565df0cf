// Which way a request takes under the person's Internet settings: through the HTTP proxy they
// name, or straight to the server. Only a request that went through that proxy can have been asked
// by the office's proxy to sign in (407); any other 407 comes from the server itself, and a server
// named by a downloaded document may be fishing for the person's Windows sign-in.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>
#include <string_view>

namespace brivon {

// Whether scheme://host:port goes through an HTTP proxy of proxyList and is not sent straight by
// bypassList, as WinINet reads them:
// - proxyList (lpszProxy): "proxy:8080" for every scheme, or per scheme "http=proxy:80;https=p2:443";
//   a scheme the list does not name goes straight (a socks= entry is no HTTP proxy);
// - bypassList (lpszProxyBypass): entries apart by ';', ',' or white space, each a host with '*'
//   for any run of characters, optionally "scheme://" before it and ":port" after it, letter case
//   aside; "<local>" stands for every host name without a dot. localhost, loopback, 127.0.0.1 and
//   ::1 always go straight unless the list holds "<-loopback>".
bool AddressGoesThroughProxy(std::wstring_view proxyList, std::wstring_view bypassList, std::wstring_view scheme,
                             std::wstring_view host, unsigned port);

// The session's proxy settings, as far as they can be read.
struct ProxySettings {
  bool proxyNamed = false;  // the session goes through proxyList (else straight to every server)
  // A configuration script or automatic detection may choose another route for any address; also
  // true where the settings could not be read.
  bool chosenAutomatically = true;
  std::wstring proxyList;
  std::wstring bypassList;
};
ProxySettings ReadProxySettings(HINTERNET session);

// Whether the request, at the address it ended at (after redirects), went through the proxy the
// session's settings name. False wherever that is not certain: a script or automatic detection,
// settings that cannot be read, an address that cannot be.
bool RequestWentThroughProxy(HINTERNET session, HINTERNET request, const std::wstring& url);

}  // namespace brivon
