#include "network/proxy_route.h"

#include <string>
#include <vector>

namespace brivon {
namespace {

constexpr std::wstring_view kEntrySeparators = L"; ,\t\r\n";

wchar_t AsciiLower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool SameLetters(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// '*' stands for any run of characters, dots included ("*.intranet.local", "10.*").
bool Matches(std::wstring_view pattern, std::wstring_view text) {
  size_t p = 0, t = 0;
  size_t star = std::wstring_view::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == L'*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && AsciiLower(pattern[p]) == AsciiLower(text[t])) {
      ++p;
      ++t;
    } else if (star != std::wstring_view::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == L'*') ++p;
  return p == pattern.size();
}

std::vector<std::wstring_view> Entries(std::wstring_view list) {
  std::vector<std::wstring_view> entries;
  size_t at = 0;
  while (at < list.size()) {
    const size_t end = list.find_first_of(kEntrySeparators, at);
    const std::wstring_view entry = list.substr(at, end == std::wstring_view::npos ? end : end - at);
    if (!entry.empty()) entries.push_back(entry);
    if (end == std::wstring_view::npos) break;
    at = end + 1;
  }
  return entries;
}

// An entry "scheme=server" serves that scheme alone; an entry without '=' serves every scheme.
bool ProxyNamedFor(std::wstring_view proxyList, std::wstring_view scheme) {
  for (std::wstring_view entry : Entries(proxyList)) {
    const size_t equals = entry.find(L'=');
    if (equals == std::wstring_view::npos) return true;
    if (equals + 1 < entry.size() && SameLetters(entry.substr(0, equals), scheme)) return true;
  }
  return false;
}

std::wstring_view WithoutBrackets(std::wstring_view host) {
  if (host.size() >= 2 && host.front() == L'[' && host.back() == L']') return host.substr(1, host.size() - 2);
  return host;
}

// The names WinINet never sends to a proxy.
bool IsLoopbackName(std::wstring_view host) {
  for (std::wstring_view name : {L"localhost", L"loopback", L"127.0.0.1", L"::1"}) {
    if (SameLetters(host, name)) return true;
  }
  return false;
}

bool BypassEntryMatches(std::wstring_view entry, std::wstring_view scheme, std::wstring_view host, unsigned port) {
  if (SameLetters(entry, L"<local>")) return host.find(L'.') == std::wstring_view::npos;
  const size_t schemeEnd = entry.find(L"://");
  if (schemeEnd != std::wstring_view::npos) {
    if (!Matches(entry.substr(0, schemeEnd), scheme)) return false;
    entry.remove_prefix(schemeEnd + 3);
  }
  while (!entry.empty() && entry.back() == L'/') entry.remove_suffix(1);
  std::wstring_view hostPattern = entry;
  std::wstring_view portPattern;
  if (!entry.empty() && entry.front() == L'[') {
    const size_t close = entry.find(L']');
    if (close != std::wstring_view::npos) {
      hostPattern = entry.substr(1, close - 1);
      if (close + 1 < entry.size() && entry[close + 1] == L':') portPattern = entry.substr(close + 2);
    }
  } else {
    const size_t colon = entry.find(L':');
    // More than one colon: an IPv6 address without brackets, with no port.
    if (colon != std::wstring_view::npos && entry.find(L':', colon + 1) == std::wstring_view::npos) {
      hostPattern = entry.substr(0, colon);
      portPattern = entry.substr(colon + 1);
    }
  }
  if (!portPattern.empty() && !Matches(portPattern, std::to_wstring(port))) return false;
  return Matches(hostPattern, host);
}

// Reads an address the way the request went out: its scheme, host and port.
bool CrackAddress(const std::wstring& url, std::wstring& scheme, std::wstring& host, unsigned& port) {
  if (url.empty()) return false;
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = 1;
  if (!::InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) return false;
  if (parts.nScheme == INTERNET_SCHEME_HTTP) {
    scheme = L"http";
  } else if (parts.nScheme == INTERNET_SCHEME_HTTPS) {
    scheme = L"https";
  } else if (parts.nScheme == INTERNET_SCHEME_FTP) {
    scheme = L"ftp";  // answered over HTTP only by a proxy
  } else {
    return false;
  }
  if (!parts.lpszHostName || parts.dwHostNameLength == 0) return false;
  host.assign(parts.lpszHostName, parts.dwHostNameLength);
  port = parts.nPort;
  return true;
}

// The address a request ended at, redirects followed; empty when the handle does not say.
std::wstring RequestAddress(HINTERNET request) {
  DWORD size = 0;
  ::InternetQueryOptionW(request, INTERNET_OPTION_URL, nullptr, &size);
  if (size == 0) return {};
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (!::InternetQueryOptionW(request, INTERNET_OPTION_URL, &text[0], &size)) return {};
  text.resize(text.find(L'\0'));
  return text;
}

}  // namespace

bool AddressGoesThroughProxy(std::wstring_view proxyList, std::wstring_view bypassList, std::wstring_view scheme,
                             std::wstring_view host, unsigned port) {
  host = WithoutBrackets(host);
  if (host.empty() || !ProxyNamedFor(proxyList, scheme)) return false;
  const std::vector<std::wstring_view> bypass = Entries(bypassList);
  bool loopbackThroughProxy = false;
  for (std::wstring_view entry : bypass) {
    if (SameLetters(entry, L"<-loopback>")) loopbackThroughProxy = true;
  }
  if (!loopbackThroughProxy && IsLoopbackName(host)) return false;
  for (std::wstring_view entry : bypass) {
    if (BypassEntryMatches(entry, scheme, host, port)) return false;
  }
  return true;
}

ProxySettings ReadProxySettings(HINTERNET session) {
  ProxySettings settings;
  DWORD size = 0;
  ::InternetQueryOptionW(session, INTERNET_OPTION_PROXY, nullptr, &size);
  if (size < sizeof(INTERNET_PROXY_INFO)) return settings;
  std::vector<unsigned char> buffer(size);
  if (!::InternetQueryOptionW(session, INTERNET_OPTION_PROXY, buffer.data(), &size)) return settings;
  const auto* info = reinterpret_cast<const INTERNET_PROXY_INFO*>(buffer.data());
  settings.proxyNamed = info->dwAccessType == INTERNET_OPEN_TYPE_PROXY && info->lpszProxy;
  if (info->lpszProxy) settings.proxyList = info->lpszProxy;
  if (info->lpszProxyBypass) settings.bypassList = info->lpszProxyBypass;

  // The connection's own flags say whether a script or automatic detection takes part; the
  // session's answer first, the LAN settings' where the session gives none.
  INTERNET_PER_CONN_OPTIONW flags{};
  flags.dwOption = INTERNET_PER_CONN_FLAGS;
  INTERNET_PER_CONN_OPTION_LISTW list{};
  list.dwSize = sizeof(list);
  list.pszConnection = nullptr;
  list.dwOptionCount = 1;
  list.pOptions = &flags;
  DWORD listSize = sizeof(list);
  if (!::InternetQueryOptionW(session, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &listSize)) {
    listSize = sizeof(list);
    if (!::InternetQueryOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &listSize)) return settings;
  }
  settings.chosenAutomatically = (flags.Value.dwValue & (PROXY_TYPE_AUTO_PROXY_URL | PROXY_TYPE_AUTO_DETECT)) != 0;
  return settings;
}

bool RequestWentThroughProxy(HINTERNET session, HINTERNET request, const std::wstring& url) {
  const ProxySettings settings = ReadProxySettings(session);
  if (!settings.proxyNamed || settings.chosenAutomatically) return false;
  std::wstring scheme, host;
  unsigned port = 0;
  if (!CrackAddress(RequestAddress(request), scheme, host, port) && !CrackAddress(url, scheme, host, port)) {
    return false;
  }
  return AddressGoesThroughProxy(settings.proxyList, settings.bypassList, scheme, host, port);
}

}  // namespace brivon
