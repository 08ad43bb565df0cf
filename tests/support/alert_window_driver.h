// Drives the alert windows of a running brivon.exe as a person would: real mouse and keyboard
// input at screen coordinates, through the system's input queue.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace brivon::testing {

// Visible top-level alert windows of the process.
std::vector<HWND> VisibleAlertWindows(DWORD processId);

// Moves the pointer to x, y (screen pixels) and presses and releases the left button.
void ClickAt(int x, int y);
// Alt+F4 to whichever window has the keyboard.
void PressAltF4();
// One key pressed and released, to whichever window has the keyboard.
void PressKey(WORD key);
// A key pressed and held: then `repeats` more presses of it, as a held key repeats, and it stays
// down until ReleaseKey.
void HoldKey(WORD key, int repeats);
void ReleaseKey(WORD key);

// Polls every 20 ms until done() or the time is up; true when done() said so.
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs);

// The colour of a screen pixel as 0xRRGGBB.
COLORREF ScreenPixel(int x, int y);
// True when each byte of two colours (0xRRGGBB, 0xAARRGGBB) is within tolerance of the other's.
inline bool ColoursNear(uint32_t a, uint32_t b, int tolerance) {
  for (int shift = 0; shift < 32; shift += 8) {
    const int difference = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
    if (std::abs(difference) > tolerance) return false;
  }
  return true;
}

// Clicks an alert window's close bar on its top edge, the highest row that closes the window, at
// three quarters of its width, away from the acceptance button.
void ClickCloseBar(HWND window);
// For RunOptions::whileRunning: closes every alert window of the process through its close bar.
void CloseAlertWindowsThroughCloseBar(DWORD processId);

// A child window of `parent` with this class name, or null.
HWND FindChild(HWND parent, const std::wstring& className);
// The text of a window of another process, through WM_GETTEXT.
std::wstring TextOf(HWND window);

// Whether the process has loaded the library of this file name (any letter case).
bool HasLoadedLibrary(DWORD processId, const std::wstring& fileName);

}  // namespace brivon::testing
