// The floor of a check-in: one WinINet POST of a small report to the loopback service, its reply
// read to the end, then exit (bench/startup_bench.sh). Same session (the system's settings, so a
// proxy where one is set), flags and header as the program's own check-in.
#include <windows.h>
#include <wininet.h>

#include <cstdlib>
#include <cwchar>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const int port = std::atoi(__argv[1]);
  static const char report[] = R"({"producto":"FacturaOrva","version":"10.2.0.15"})";
  static const wchar_t header[] = L"Content-Type: application/json\r\n";
  HINTERNET session = ::InternetOpenW(L"ComprobadorOrvane/1.0", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  HINTERNET connection = session ? ::InternetConnectW(session, L"127.0.0.1", static_cast<INTERNET_PORT>(port),
                                                      nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0)
                                 : nullptr;
  HINTERNET request = connection ? ::HttpOpenRequestW(connection, L"POST", L"/comprobador/checkin", nullptr, nullptr,
                                                      nullptr, INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
                                 : nullptr;
  int code = 1;
  if (request && ::HttpSendRequestW(request, header, static_cast<DWORD>(std::wcslen(header)),
                                    const_cast<char*>(report), sizeof(report) - 1)) {
    char buffer[4096];
    DWORD read = 0;
    size_t total = 0;
    while (::InternetReadFile(request, buffer, sizeof(buffer), &read) && read > 0) total += read;
    code = total > 0 ? 0 : 1;
  }
  if (request) ::InternetCloseHandle(request);
  if (connection) ::InternetCloseHandle(connection);
  if (session) ::InternetCloseHandle(session);
  return code;
}
