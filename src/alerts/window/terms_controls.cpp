#include "alerts/window/terms_controls.h"

#include <memory>
#include <string>

#include "alerts/window/alert_actions.h"
#include "alerts/window/alert_run.h"
#include "alerts/window/remote_resources.h"
#include "alerts/window/own_download.h"
#include "alerts/window/terms_document.h"
#include "alerts/window/window_fetch.h"
#include "common/test_hooks.h"

namespace brivon {
namespace {

constexpr DWORD kRichEditBoxStyle =
    WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY;
constexpr DWORD kAcceptButtonStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_DISABLED;
constexpr DWORD kAcceptNoticeStyle = WS_CHILD | WS_VISIBLE | SS_LEFT;

// Where the terms controls go: the box over the content area, the button and what it says beside
// it over the close bar.
RECT TermsBoxRect(const AlertLayout& layout) {
  return RECT{20, layout.contentTop, layout.width - 20, layout.contentTop + layout.contentHeight};
}
RECT AcceptButtonRect(const AlertLayout& layout) {
  const LONG top = layout.contentTop + layout.contentHeight + 10;
  return RECT{20, top, 320, top + 30};
}
RECT AcceptNoticeRect(const AlertLayout& layout) {
  const RECT button = AcceptButtonRect(layout);
  return RECT{button.right + 20, button.top, layout.width - 20, button.bottom};
}

HWND MakeChild(HWND window, const wchar_t* className, const wchar_t* text, DWORD style, const RECT& at, int id) {
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(window, GWLP_HINSTANCE));
  return ::CreateWindowExW(0, className, text, style, at.left, at.top, at.right - at.left, at.bottom - at.top, window,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
}

void PlaceChild(HWND child, const RECT& at) {
  if (child) ::MoveWindow(child, at.left, at.top, at.right - at.left, at.bottom - at.top, TRUE);
}

bool IsOnChild(HWND window, HWND child, int32_t x, int32_t y) {
  RECT at{};
  if (!child || !::GetWindowRect(child, &at)) return false;
  ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&at), 2);
  return x >= at.left && x < at.right && y >= at.top && y < at.bottom;
}

void EnableAcceptanceWhenDue(AlertWindowState& state) {
  if (state.acceptButton && state.acceptDelayOver && state.rtfLoaded) ::EnableWindow(state.acceptButton, TRUE);
}

// The acceptance could not be saved: the window stays, says so beside the button, and the button
// can be pressed again.
void ShowAcceptanceNotSaved(HWND window, AlertWindowState& state) {
  if (!state.acceptNotice) {
    RECT client{};
    ::GetClientRect(window, &client);
    state.acceptNotice = MakeChild(window, L"STATIC", kAcceptanceNotSavedText, kAcceptNoticeStyle,
                                   AcceptNoticeRect(MakeAlertLayout(client)), IDC_ACCEPT_NOTICE);
  }
  ::EnableWindow(state.acceptButton, TRUE);
  ::SetFocus(state.acceptButton);
}

// The box, the button and the document's download, each made once.
void MakeTermsControls(HWND window, AlertWindowState& state, const AlertLayout& layout) {
  if (!state.richEdit) {
    state.richEdit = MakeChild(window, L"RICHEDIT50W", nullptr, kRichEditBoxStyle, TermsBoxRect(layout), 0);
  }
  if (!state.acceptButton) {
    state.acceptButton =
        MakeChild(window, L"BUTTON", kAcceptButtonText, kAcceptButtonStyle, AcceptButtonRect(layout), IDC_ACCEPT_TERMS);
  }
  if (!state.rtfRequested && state.richEdit && state.alert && !state.alert->contenido.empty()) {
    state.rtfRequested = true;
    // On a worker, started ahead where it could be: the box fills when the document arrives
    // (TakeTermsDocument).
    state.termsArrival = OwnDownloadFor(window, state);
  }
}

}  // namespace

void SetUpTerms(HWND window, AlertWindowState& state, const AlertLayout& layout) {
  MakeTermsControls(window, state, layout);
  if (!state.acceptTimerStarted) {
    ::SetTimer(window, IDT_ACCEPT_DELAY, TestAcceptDelayMs(kAcceptDelayMs), nullptr);
    state.acceptTimerStarted = true;
  }
}

void PrepareTermsBeforeShow(HWND window, AlertWindowState& state) {
  if (!ShowsKind(state, AlertKind::DocumentoRtf)) return;
  RECT client{};
  if (!::GetClientRect(window, &client)) return;
  MakeTermsControls(window, state, MakeAlertLayout(client));
  TakeTermsDocument(state);
}

void OnAcceptDelayOver(HWND window, AlertWindowState* state) {
  ::KillTimer(window, IDT_ACCEPT_DELAY);
  if (!state) return;
  state->acceptDelayOver = true;
  EnableAcceptanceWhenDue(*state);
}

void TakeTermsDocument(AlertWindowState& state) {
  FetchedBody arrived;
  if (!state.termsArrival || !state.termsArrival->Take(&arrived)) return;
  state.termsArrival.reset();
  state.rtfLoaded = ShowTermsDocument(state.richEdit, FirstLink(state), arrived);
  EnableAcceptanceWhenDue(state);
}

void OnAccept(HWND window, AlertWindowState& state) {
  if (!state.alert || state.alert->contenido.empty()) return;
  // Only through the button, once it is enabled: a message sent from elsewhere records nothing.
  if (!state.acceptButton || !::IsWindowEnabled(state.acceptButton) || state.acceptance) return;
  // The record may be held for seconds: written on a worker while the window answers, the button
  // disabled meanwhile so that a second press writes no second line.
  const std::string link = FirstLink(state);
  auto cell = std::make_shared<AcceptanceCell>();
  ::EnableWindow(state.acceptButton, FALSE);
  // The disabled button lets the keyboard go: the window keeps it, so Tab still reaches the box.
  ::SetFocus(window);
  if (state.run && state.run->KeepThread([&] { return StartRecordingAcceptance(window, link, cell); })) {
    state.acceptance = std::move(cell);
    return;
  }
  if (RecordAcceptance(link)) {
    ::DestroyWindow(window);
  } else {
    ShowAcceptanceNotSaved(window, state);
  }
}

void OnAcceptanceWritten(HWND window, AlertWindowState& state) {
  bool saved = false;
  if (!state.acceptance || !state.acceptance->Finished(&saved)) return;
  state.acceptance.reset();
  // The window closes as accepted only once the line is on the disk.
  if (saved) {
    ::DestroyWindow(window);
  } else {
    ShowAcceptanceNotSaved(window, state);
  }
}

bool IsOnAcceptControls(HWND window, const AlertWindowState& state, int32_t x, int32_t y) {
  return IsOnChild(window, state.acceptButton, x, y) || IsOnChild(window, state.acceptNotice, x, y);
}

void PlaceTermsControls(const AlertWindowState& state, const AlertLayout& layout) {
  PlaceChild(state.richEdit, TermsBoxRect(layout));
  PlaceChild(state.acceptButton, AcceptButtonRect(layout));
  PlaceChild(state.acceptNotice, AcceptNoticeRect(layout));
}

void DestroyTermsControls(AlertWindowState& state) {
  for (HWND* control : {&state.richEdit, &state.acceptButton, &state.acceptNotice}) {
    if (*control) ::DestroyWindow(*control);
    *control = nullptr;
  }
}

}  // namespace brivon
