#include "support/alert_window_driver.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>

#include "alerts/window/alert_layout.h"
#include "common/unique_handle.h"

namespace brivon::testing {
namespace {

struct AlertSearch {
  DWORD processId;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectAlertWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<AlertSearch*>(param);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  if (owner == search->processId && ::IsWindowVisible(window) && std::wstring(name) == L"AlertaWindowClass") {
    search->found.push_back(window);
  }
  return TRUE;
}

struct ChildSearch {
  std::wstring className;
  HWND found;
};

BOOL CALLBACK MatchChild(HWND child, LPARAM param) {
  auto* search = reinterpret_cast<ChildSearch*>(param);
  wchar_t name[64] = {};
  ::GetClassNameW(child, name, 64);
  if (_wcsicmp(name, search->className.c_str()) == 0) {
    search->found = child;
    return FALSE;
  }
  return TRUE;
}

void SendKey(WORD key, bool up) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  ::SendInput(1, &input, sizeof(input));
}

}  // namespace

std::vector<HWND> VisibleAlertWindows(DWORD processId) {
  AlertSearch search{processId, {}};
  ::EnumWindows(CollectAlertWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

void ClickAt(int x, int y) {
  ::SetCursorPos(x, y);
  ::Sleep(60);
  // Each button event carries its point as well: on a loaded machine a motion the X server reported
  // before the move can put Wine's cursor back where it was, and a bare button event lands there.
  const int width = std::max(1, ::GetSystemMetrics(SM_CXSCREEN));
  const int height = std::max(1, ::GetSystemMetrics(SM_CYSCREEN));
  INPUT inputs[2] = {};
  for (INPUT& input : inputs) {
    input.type = INPUT_MOUSE;
    input.mi.dx = static_cast<LONG>((static_cast<int64_t>(x) * 65536 + width - 1) / width);
    input.mi.dy = static_cast<LONG>((static_cast<int64_t>(y) * 65536 + height - 1) / height);
  }
  inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_LEFTDOWN;
  inputs[1].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_LEFTUP;
  ::SendInput(1, &inputs[0], sizeof(INPUT));
  ::Sleep(40);
  ::SendInput(1, &inputs[1], sizeof(INPUT));
  ::Sleep(60);
}

void PressAltF4() {
  SendKey(VK_MENU, false);
  SendKey(VK_F4, false);
  ::Sleep(30);
  SendKey(VK_F4, true);
  SendKey(VK_MENU, true);
}

void PressKey(WORD key) {
  SendKey(key, false);
  ::Sleep(30);
  SendKey(key, true);
  ::Sleep(60);
}

void HoldKey(WORD key, int repeats) {
  for (int i = 0; i <= repeats; ++i) {
    SendKey(key, false);
    ::Sleep(50);
  }
}

void ReleaseKey(WORD key) {
  SendKey(key, true);
  ::Sleep(60);
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    if (done()) return true;
    if (::GetTickCount() - start >= timeoutMs) return false;
    ::Sleep(20);
  }
}

COLORREF ScreenPixel(int x, int y) {
  HDC screen = ::GetDC(nullptr);
  COLORREF bgr = ::GetPixel(screen, x, y);
  ::ReleaseDC(nullptr, screen);
  return RGB(GetBValue(bgr), GetGValue(bgr), GetRValue(bgr));
}

void ClickCloseBar(HWND window) {
  RECT r{};
  ::GetWindowRect(window, &r);
  ClickAt(r.left + (r.right - r.left) * 3 / 4, r.bottom - AlertLayout().footerHeight);
}

void CloseAlertWindowsThroughCloseBar(DWORD processId) {
  for (HWND window : VisibleAlertWindows(processId)) ClickCloseBar(window);
}

HWND FindChild(HWND parent, const std::wstring& className) {
  ChildSearch search{className, nullptr};
  ::EnumChildWindows(parent, MatchChild, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::wstring TextOf(HWND window) {
  const LRESULT length = ::SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
  if (length <= 0) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const LRESULT got = ::SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

bool HasLoadedLibrary(DWORD processId, const std::wstring& fileName) {
  // INVALID_HANDLE_VALUE when it fails, as CreateFile answers.
  UniqueFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, processId));
  if (!snapshot) return false;
  MODULEENTRY32W module{};
  module.dwSize = sizeof(module);
  bool found = false;
  for (BOOL more = ::Module32FirstW(snapshot.get(), &module); more && !found;
       more = ::Module32NextW(snapshot.get(), &module)) {
    found = _wcsicmp(module.szModule, fileName.c_str()) == 0;
  }
  return found;
}

}  // namespace brivon::testing
