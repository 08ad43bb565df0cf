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

}  // namespace

bool HandleAlertKey(HWND window, AlertWindowState& state, const MSG& message) {
  if (message.message != WM_KEYDOWN) return false;
  if (message.hwnd != window && !::IsChild(window, message.hwnd)) return false;
  KeyContext context;
  context.focus = FocusIn(state);
  context.hasTerms = state.richEdit && state.acceptButton;
  context.buttonEnabled = context.hasTerms && ::IsWindowEnabled(state.acceptButton);
  context.closable = state.alert && !ShowsKind(state, AlertKind::UrlActualizar);
  context.saving = state.acceptance != nullptr;
  const bool repeated = (message.lParam & (1L << 30)) != 0;
  switch (ActionForKey(static_cast<UINT>(message.wParam), repeated, context)) {
    case KeyAction::FocusBox:
      ::SetFocus(state.richEdit);
      return true;
    case KeyAction::FocusButton:
      ::SetFocus(state.acceptButton);
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
  // Tab never reaches the box, which would take it as text.
  return context.hasTerms && message.wParam == VK_TAB;
}

}  // namespace brivon
