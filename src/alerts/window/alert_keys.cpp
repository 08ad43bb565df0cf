#include "alerts/window/alert_keys.h"

#include "alerts/window/alert_actions.h"
#include "alerts/window/terms_controls.h"

namespace brivon {
namespace {

AlertFocus FocusIn(const AlertWindowState& state) {
  const HWND focus = ::GetFocus();
  if (focus && focus == state.richEdit) return AlertFocus::TermsBox;
  if (focus && focus == state.acceptButton) return AlertFocus::AcceptButton;
  return AlertFocus::Window;
}

KeyStroke StrokeOf(const MSG& message) {
  if (message.message == WM_KEYUP) return KeyStroke::Released;
  // Bit 30: the key was already down, a held key's repeat.
  return (message.lParam & (1L << 30)) != 0 ? KeyStroke::Repeated : KeyStroke::Pressed;
}

// The button looks pressed while a key pressed on it is down, as under a mouse button.
void HoldButton(AlertWindowState& state, UINT key) {
  state.keyHeldOnButton = key;
  ::SendMessageW(state.acceptButton, BM_SETSTATE, key != 0, 0);
}

}  // namespace

bool HandleAlertKey(HWND window, AlertWindowState& state, const MSG& message) {
  if (message.message != WM_KEYDOWN && message.message != WM_KEYUP) return false;
  if (message.hwnd != window && !::IsChild(window, message.hwnd)) return false;
  const UINT key = static_cast<UINT>(message.wParam);
  const KeyStroke stroke = StrokeOf(message);
  KeyContext context;
  context.focus = FocusIn(state);
  context.hasTerms = state.richEdit && state.acceptButton;
  context.buttonEnabled = context.hasTerms && ::IsWindowEnabled(state.acceptButton);
  context.closable = state.alert && !ShowsKind(state, AlertKind::UrlActualizar);
  context.saving = state.acceptance != nullptr;
  context.heldOnButton = state.keyHeldOnButton;
  const KeyAction action = ActionForKey(key, stroke, context);
  if (state.keyHeldOnButton != 0 && (action == KeyAction::FocusBox || action == KeyAction::FocusButton ||
                                     (stroke == KeyStroke::Released && key == state.keyHeldOnButton))) {
    HoldButton(state, 0);
  }
  switch (action) {
    case KeyAction::FocusBox:
      ::SetFocus(state.richEdit);
      return true;
    case KeyAction::FocusButton:
      ::SetFocus(state.acceptButton);
      return true;
    case KeyAction::HoldButton:
      HoldButton(state, key);
      return true;
    case KeyAction::PressButton:
      ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_ACCEPT_TERMS, BN_CLICKED),
                     reinterpret_cast<LPARAM>(state.acceptButton));
      return true;
    case KeyAction::Close:
      ArchiveSetAsideProgram();
      ::DestroyWindow(window);
      return true;
    case KeyAction::None:
      break;
  }
  // Tab never reaches the box, which would take it as text; Enter and Space never reach the
  // button, whose own handling would take a held key's repeats as a press.
  if (key == VK_TAB) return context.hasTerms && stroke != KeyStroke::Released;
  return context.focus == AlertFocus::AcceptButton && (key == VK_SPACE || key == VK_RETURN);
}

}  // namespace brivon
