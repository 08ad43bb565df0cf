#include "alerts/window/alert_window.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "alerts/window/alert_actions.h"
#include "alerts/window/alert_painting.h"
#include "alerts/window/alert_run.h"
#include "alerts/window/progress_strip.h"
#include "alerts/window/update_window.h"

namespace brivon {
namespace {

AlertWindowState* StateOf(HWND window) {
  return reinterpret_cast<AlertWindowState*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

// Everything the window shows but its controls and the update strip.
void DrawWindow(HDC dc, const AlertLayout& layout, const AlertWindowState* state) {
  if (!state || !state->document) return;
  Gdiplus::Graphics graphics(dc);
  if (state->rescaling) {
    // The worker reads the pictures: only the frame, nothing clickable until they come back.
    PaintAlertFrame(graphics, layout, *state->document, state->alert);
    if (state->alert) {
      for (AlertItem& item : state->alert->contenido) item.hitRect = RECT{0, 0, 0, 0};
    }
  } else {
    PaintAlert(graphics, layout, *state->document, state->alert,
               CopiesToDraw(state->scaled.get(), layout.width, layout.height));
  }
  if (ShowsKind(*state, AlertKind::UrlActualizar)) DrawUpdatePicture(graphics, layout, *state);
}

void OnPaint(HWND window, AlertWindowState* state) {
  PAINTSTRUCT paint{};
  HDC dc = ::BeginPaint(window, &paint);
  RECT client{};
  ::GetClientRect(window, &client);
  const AlertLayout layout = MakeAlertLayout(client);
  if (state && ShowsKind(*state, AlertKind::UrlActualizar) && !state->updateStarted) StartUpdateWindow(window, *state);
  PaintAlertWindow(dc, paint.rcPaint, layout, state);
  if (state && ShowsKind(*state, AlertKind::DocumentoRtf)) SetUpTerms(window, *state, layout);
  ::EndPaint(window, &paint);
}

// A tool window has no taskbar button and no Alt+Tab entry. That suits a topmost alert; one that
// stands behind other programs needs both, under its title, or a person who switched away could
// never bring it back, nor the alerts after it, and every later start would meet this one.
void SetTaskbarEntry(HWND window, bool entry) {
  const LONG_PTR style = ::GetWindowLongPtrW(window, GWL_EXSTYLE);
  const LONG_PTR wanted = entry ? (style & ~static_cast<LONG_PTR>(WS_EX_TOOLWINDOW)) | WS_EX_APPWINDOW
                                : (style & ~static_cast<LONG_PTR>(WS_EX_APPWINDOW)) | WS_EX_TOOLWINDOW;
  if (wanted == style) return;
  // The taskbar takes a window in only as it shows: hidden for the change, shown again unactivated.
  const bool reshow = entry && ::IsWindowVisible(window);
  if (reshow) ::ShowWindow(window, SW_HIDE);
  ::SetWindowLongPtrW(window, GWL_EXSTYLE, wanted);
  ::SetWindowPos(window, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  if (reshow) ::ShowWindow(window, SW_SHOWNA);
}

// A topmost window covering the screen would hide the browser the link starts, and the person
// would click again and again: the alert steps back, still open, until it is activated again.
void StepBackForBrowser(HWND window, AlertWindowState* state) {
  ::AllowSetForegroundWindow(ASFW_ANY);
  SetTaskbarEntry(window, true);
  ::SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  if (state) state->steppedBack = true;
}

void OnActivate(HWND window, AlertWindowState* state, WPARAM wParam) {
  if (LOWORD(wParam) == WA_INACTIVE || !state || !state->steppedBack) return;
  state->steppedBack = false;
  ::SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  SetTaskbarEntry(window, false);
}

void OnLeftButtonDown(HWND window, AlertWindowState* state, LPARAM lParam) {
  if (!state || !state->alert || ShowsKind(*state, AlertKind::UrlActualizar)) return;
  const int32_t x = LOWORD(lParam);
  const int32_t y = HIWORD(lParam);
  RECT client{};
  ::GetClientRect(window, &client);
  if (!IsInCloseBar(client, y)) {
    const std::vector<std::string> links = LinksAt(*state->alert, x, y);
    if (links.empty()) return;
    StepBackForBrowser(window, state);
    OpenLinks(links);
    return;
  }
  if (IsOnAcceptControls(window, *state, x, y)) return;
  // An acceptance being written closes the window itself once saved, or says it failed.
  if (state->acceptance) return;
  // The click's own time, not the time it is handled: a first paint that took long (terms still
  // downloading) leaves the second click of a double click waiting in the queue.
  if (!CloseBarTakesClick(static_cast<DWORD>(::GetMessageTime()), state->shownAt, ::GetDoubleClickTime())) return;
  ArchiveSetAsideProgram();
  ::DestroyWindow(window);
}

// Another screen size (a remote session reconnected from a smaller screen, a dock, another
// primary screen): the window covers the new primary screen, its controls laid out again, its
// pictures and the next alert's scaled again off this thread.
void OnDisplayChange(HWND window, AlertWindowState* state) {
  // Posted before the window is sized, so that no paint of the new size scales them here.
  if (state && state->run) state->run->RescaleForScreen(window, *state);
  ::SetWindowPos(window, nullptr, 0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  if (state) {
    state->drawn.Drop();  // another depth or size: what was drawn no longer fits
    RECT client{};
    ::GetClientRect(window, &client);
    PlaceTermsControls(*state, MakeAlertLayout(client));
  }
  ::InvalidateRect(window, nullptr, FALSE);
}

// The pictures scaled again for the new screen: drawn anew with them.
void TakeRescaledPictures(HWND window, AlertWindowState& state) {
  if (!state.rescaling) return;
  {
    std::lock_guard<std::mutex> hold(state.rescaling->lock);
    if (!state.rescaling->ready) return;
    state.scaled = std::move(state.rescaling->pictures);
  }
  state.rescaling.reset();
  state.drawn.Forget();
  ::InvalidateRect(window, nullptr, FALSE);
}

void OnCreate(HWND window, AlertWindowState* state) {
  if (!state) return;
  RECT client{};
  ::GetClientRect(window, &client);
  if (HDC dc = ::GetDC(window)) {
    state->drawn.Prepare(dc, client.right - client.left, client.bottom - client.top);
    ::ReleaseDC(window, dc);
  }
}

void OnDestroy(HWND window, AlertWindowState* state) {
  if (state) {
    if (state->announced && state->run) state->run->announcer().Forget(window);
    DestroyTermsControls(*state);
  }
  ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
}

LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    // The state comes with the window and stays its owner's.
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  AlertWindowState* state = StateOf(window);
  switch (message) {
    case WM_CREATE:
      OnCreate(window, state);
      return 0;
    case WM_DESTROY:
      OnDestroy(window, state);
      return 0;
    case WM_CLOSE:
      // Only a person's action ends an alert window.
      return 0;
    case WM_TIMER:
      if (wParam == IDT_ACCEPT_DELAY) OnAcceptDelayOver(window, state);
      if (wParam == IDT_FREE_SPACE_NOTICE && state) OnFreeSpaceNoticeOver(window, *state);
      return 0;
    case WM_PAINT:
      OnPaint(window, state);
      return 0;
    case WM_ACTIVATE:
      OnActivate(window, state, wParam);
      return ::DefWindowProcW(window, message, wParam, lParam);
    case WM_LBUTTONDOWN:
      OnLeftButtonDown(window, state, lParam);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_ACCEPT_TERMS && state) OnAccept(window, *state);
      return 0;
    case WM_UPDATE_PROGRESS:
      if (state) OnUpdateProgress(window, *state);
      return 0;
    case WM_UPDATE_FINISHED:
      if (state) OnUpdateFinished(window, *state);
      return 0;
    case WM_REMOTE_ARRIVED:
      if (state) {
        TakeTermsDocument(*state);
        TakeUpdatePicture(window, *state);
        TakeRescaledPictures(window, *state);
      }
      return 0;
    case WM_ACCEPTANCE_WRITTEN:
      if (state) OnAcceptanceWritten(window, *state);
      return 0;
    case WM_DISPLAYCHANGE:
      OnDisplayChange(window, state);
      return 0;
    default:
      return ::DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

void RegisterAlertWindowClass(HINSTANCE instance) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = AlertWindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kAlertWindowClass;
  ::RegisterClassExW(&windowClass);
}

HWND CreateAlertWindow(HINSTANCE instance, AlertWindowState& state) {
  // Clipping its children: a repaint from the kept copy never covers the terms box.
  return ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kAlertWindowClass, kAlertWindowTitle,
                           WS_POPUP | WS_CLIPCHILDREN, 0, 0, ::GetSystemMetrics(SM_CXSCREEN),
                           ::GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr, instance, &state);
}

void ShowAlertWindow(HWND window, AlertWindowState& state, int showCommand) {
  ::SetForegroundWindow(window);
  ::SetFocus(window);
  ::SetActiveWindow(window);
  ::ShowWindow(window, AlertShowCommand(showCommand));
  // The first show of a process may follow the starter's wish instead of ours.
  if (!::IsWindowVisible(window) || ::IsIconic(window)) ::ShowWindow(window, SW_SHOWNORMAL);
  state.shownAt = ::GetTickCount();
  ::UpdateWindow(window);
}

void PaintAlertWindow(HDC dc, const RECT& area, const AlertLayout& layout, AlertWindowState* state) {
  if (state && state->drawn.Holds(layout.width, layout.height)) {
    state->drawn.CopyTo(dc, area);
  } else if (state && !state->paintedOnce) {
    // The first paint of a window just shown: drawn on the window itself. Drawing it on a surface
    // of its own first would cost that paint a full-screen copy, and the system's zeroing of the
    // surface's memory at its first drawing.
    DrawWindow(dc, layout, state);
  } else if (HDC surface = state ? state->drawn.Begin(dc, layout.width, layout.height) : nullptr) {
    DrawWindow(surface, layout, state);
    state->drawn.Finish();
    state->drawn.CopyTo(dc, area);
  } else {  // no memory for a copy: drawn straight onto the window, this time and the next
    DrawWindow(dc, layout, state);
  }
  if (state) state->paintedOnce = true;
  if (state && state->progressKnown) PaintProgressStrip(dc, layout, state->progressShown);
}

int AlertShowCommand(int showCommand) {
  switch (showCommand) {
    case SW_HIDE:
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
    case SW_FORCEMINIMIZE:
      return SW_SHOWNORMAL;
    default:
      return showCommand;
  }
}

LRESULT CALLBACK AlertWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    return HandleMessage(window, message, wParam, lParam);
  } catch (...) {
    return 0;
  }
}

}  // namespace brivon
