// One alert window: its class, its procedure and its painting. The window reaches the state it
// shows (AlertWindowState, owned by whoever shows it) through GWLP_USERDATA.
#pragma once

#include <windows.h>

#include "alerts/window/alert_layout.h"
#include "alerts/window/alert_messages.h"
#include "alerts/window/alert_window_state.h"
#include "alerts/window/terms_controls.h"

namespace brivon {

inline constexpr wchar_t kAlertWindowClass[] = L"AlertaWindowClass";
inline constexpr wchar_t kAlertWindowTitle[] = L"ESTO ES UNA ALERTA";

void RegisterAlertWindowClass(HINSTANCE instance);

// A window for state, not yet shown: topmost, covering the primary screen. Null when it could not
// be made.
HWND CreateAlertWindow(HINSTANCE instance, AlertWindowState& state);

// Brings the window to the front and shows it with the starter's show command (never hidden nor
// minimised), its first paint done.
void ShowAlertWindow(HWND window, AlertWindowState& state, int showCommand);

// One paint of the window onto dc: the frame, the kind's content and the update picture, drawn
// straight onto dc at the first paint, then drawn once more and kept at the next; later paints
// copy what was kept. Then the update strip, when the update has reported. area: the part that
// needs painting.
void PaintAlertWindow(HDC dc, const RECT& area, const AlertLayout& layout, AlertWindowState* state);

// The show command to use: one that would hide or minimise a window that only a click can end
// becomes a normal show.
int AlertShowCommand(int showCommand);

LRESULT CALLBACK AlertWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace brivon
