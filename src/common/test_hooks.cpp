#include "common/test_hooks.h"

#ifdef BRIVON_TEST_HOOKS

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cwchar>

#include "common/text.h"
#include "common/unique_handle.h"

namespace brivon {
namespace {

std::wstring Environment(const wchar_t* name) {
  wchar_t value[1024];
  DWORD length = ::GetEnvironmentVariableW(name, value, 1024);
  return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
}

std::atomic<int> matches{0};

unsigned long NumberOr(const wchar_t* variable, unsigned long normal) {
  const std::wstring value = Environment(variable);
  return value.empty() ? normal : std::wcstoul(value.c_str(), nullptr, 10);
}

}  // namespace

unsigned long TestFileWaitLimitMs(unsigned long normal) { return NumberOr(L"BRIVON_TEST_FILE_WAIT_MS", normal); }
unsigned long TestReceiveLimitMs(unsigned long normal) { return NumberOr(L"BRIVON_TEST_RECEIVE_LIMIT_MS", normal); }
unsigned long TestPictureDeadlineMs(unsigned long normal) {
  return NumberOr(L"BRIVON_TEST_PICTURE_DEADLINE_MS", normal);
}
unsigned long TestCheckinDeadlineMs(unsigned long normal) {
  return NumberOr(L"BRIVON_TEST_CHECKIN_DEADLINE_MS", normal);
}
unsigned long TestAcceptDelayMs(unsigned long normal) { return NumberOr(L"BRIVON_TEST_ACCEPT_DELAY_MS", normal); }
unsigned long long TestFreeSpaceMarginBytes(unsigned long long normal) {
  const std::wstring value = Environment(L"BRIVON_TEST_FREE_MARGIN_MB");
  return value.empty() ? normal : std::wcstoull(value.c_str(), nullptr, 10) * 1024 * 1024;
}

unsigned long TestFileHeadersDeadlineMs(unsigned long normal) {
  return NumberOr(L"BRIVON_TEST_FILE_HEADERS_DEADLINE_MS", normal);
}
unsigned long TestStallWindowMs(unsigned long normal) { return NumberOr(L"BRIVON_TEST_STALL_WINDOW_MS", normal); }
unsigned long TestOpeningHoldMs() { return NumberOr(L"BRIVON_TEST_OPENING_HOLD_MS", 0); }

// Only what points at the test build's own port moves: a program built with other addresses (the
// one behind a proxy, on port 80) keeps them.
unsigned short TestBuiltInPort(unsigned short normal) {
  if (normal != BRIVON_TEST_PORT) return normal;
  return static_cast<unsigned short>(NumberOr(L"BRIVON_TEST_BUILT_IN_PORT", normal));
}

// "http://127.0.0.1:47321/x" -> "http://127.0.0.1:<PORT>/x"; an address on another port stays.
std::wstring TestBuiltInAddress(std::wstring_view url) {
  std::wstring address(url);
  const std::wstring own = L":" + std::to_wstring(BRIVON_TEST_PORT) + L"/";
  const size_t at = address.find(own);
  if (at == std::wstring::npos) return address;
  return address.replace(at + 1, own.size() - 2, std::to_wstring(TestBuiltInPort(BRIVON_TEST_PORT)));
}

void TestKillPoint(std::string_view name) {
  // Several points may be named, each between commas.
  static const std::string pause = "," + WideToUtf8(Environment(L"BRIVON_TEST_PAUSE_AT")) + ",";
  if (!name.empty() && pause.find("," + std::string(name) + ",") != std::string::npos) ::Sleep(1500);
  static const std::string wanted = WideToUtf8(Environment(L"BRIVON_TEST_KILL_AT"));
  if (wanted.empty()) return;
  std::string_view point = wanted;
  int nth = 1;
  if (size_t hash = point.find('#'); hash != std::string_view::npos) {
    nth = std::atoi(std::string(point.substr(hash + 1)).c_str());
    point = point.substr(0, hash);
  }
  if (name != point) return;
  if (++matches == nth) ::TerminateProcess(::GetCurrentProcess(), 9);
}

namespace {

const std::wstring& TracePath() {
  static const std::wstring trace = Environment(L"BRIVON_TEST_FILE_TRACE");
  return trace;
}

// One write to a handle that only appends: lines from several threads never overwrite each other.
void AppendTraceLine(const std::string& line) {
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  UniqueFile file(::CreateFileW(TracePath().c_str(), FILE_APPEND_DATA, kShareAll, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  DWORD written = 0;
  ::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace

void TestTraceFileEvent(std::string_view event, const std::wstring& path, const std::wstring& other) {
  if (TracePath().empty()) return;
  std::string line(event);
  line += ';' + WideToUtf8(path);
  if (!other.empty()) line += ';' + WideToUtf8(other);
  line += '\n';
  AppendTraceLine(line);
}

void TestTraceScaled(size_t alert, int32_t width, int32_t height, std::string_view where) {
  if (TracePath().empty()) return;
  AppendTraceLine("scaled;" + std::to_string(alert) + ';' + std::to_string(width) + 'x' + std::to_string(height) +
                  ';' + std::string(where) + '\n');
}

}  // namespace brivon

#endif
