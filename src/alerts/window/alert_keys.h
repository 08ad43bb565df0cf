// The keys of an alert window, for a person without a mouse: taken from the message loop before
// they reach the control that has the keyboard, and decided by ActionForKey.
#pragma once

#include <windows.h>

#include "alerts/window/alert_window_state.h"

namespace brivon {

// True when the key was used (or must not reach the control that has the keyboard).
bool HandleAlertKey(HWND window, AlertWindowState& state, const MSG& message);

}  // namespace brivon
