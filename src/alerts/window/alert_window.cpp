#include "alerts/window/alert_window.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "alerts/model/alert_parser.h"
#include "alerts/window/alert_actions.h"
#include "alerts/window/alert_announcement.h"
#include "alerts/window/alert_painting.h"
#include "alerts/window/document_pictures.h"
#include "alerts/window/progress_strip.h"
#include "alerts/window/remote_resources.h"
#include "alerts/window/scaling_worker.h"
#include "alerts/window/terms_document.h"
#include "alerts/window/update_worker.h"
#include "build_config.h"
#include "common/gdiplus_owners.h"
#include "common/system_library.h"
#include "common/test_hooks.h"
#include "common/text.h"
#include "common/unique_handle.h"

namespace brivon {

Alert* currentAlert = nullptr;

namespace {

constexpr wchar_t kLogFolderRelative[] = L"actualizador_registros";
constexpr DWORD kRichEditBoxStyle =
    WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY;
constexpr DWORD kAcceptButtonStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_DISABLED;
constexpr DWORD kAcceptNoticeStyle = WS_CHILD | WS_VISIBLE | SS_LEFT;

// The worker that scales pictures for the windows, while RunAlertWindows runs; null otherwise
// (the bench and the tests paint without it).
ScalingWorker* scalingWorker = nullptr;

AlertWindowState* StateOf(HWND window) {
  return reinterpret_cast<AlertWindowState*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

bool EnsureLogFolder() {
  const DWORD attributes = ::GetFileAttributesW(kLogFolderRelative);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  return ::CreateDirectoryW(kLogFolderRelative, nullptr) != FALSE;
}

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

void EnableAcceptanceWhenDue(AlertWindowState& state) {
  if (state.acceptButton && state.acceptDelayOver && state.rtfLoaded) ::EnableWindow(state.acceptButton, TRUE);
}

// Box and button over the content area and the close bar, the delay timer, and the document,
// each tried again at the next paint when it could not be made.
void SetUpTerms(HWND window, AlertWindowState& state, const AlertLayout& layout) {
  if (!state.richEdit) {
    state.richEdit = MakeChild(window, L"RICHEDIT50W", nullptr, kRichEditBoxStyle, TermsBoxRect(layout), 0);
  }
  if (!state.acceptButton) {
    state.acceptButton =
        MakeChild(window, L"BUTTON", kAcceptButtonText, kAcceptButtonStyle, AcceptButtonRect(layout), IDC_ACCEPT_TERMS);
  }
  if (!state.acceptTimerStarted) {
    ::SetTimer(window, IDT_ACCEPT_DELAY, TestAcceptDelayMs(kAcceptDelayMs), nullptr);
    state.acceptTimerStarted = true;
  }
  if (!state.rtfRequested && state.richEdit && currentAlert && !currentAlert->contenido.empty()) {
    state.rtfRequested = true;
    // On a worker: the box fills when the document arrives (OnRemoteArrived).
    const std::string& address = currentAlert->contenido.front().enlace;
    if (!address.empty()) {
      state.termsArrival = std::make_shared<FetchCell>();
      if (!StartWindowFetch(window, address, kTextUserAgent, state.termsArrival)) state.termsArrival.reset();
    }
  }
}

void ShowUpdatePicture(HWND window, AlertWindowState& state, UniqueBitmap picture, UniqueBitmap scaled) {
  state.updatePicture = std::move(picture);
  state.updatePictureScaled = std::move(scaled);
  if (state.updatePicture) {
    state.drawn.Forget();
    ::InvalidateRect(window, nullptr, FALSE);
  }
}

// The update picture is decoded and scaled on the scaling worker, which says when it is done;
// without one, here.
void DecodeUpdatePicture(HWND window, AlertWindowState& state, std::string body) {
  RECT client{};
  ::GetClientRect(window, &client);
  const AlertLayout layout = MakeAlertLayout(client);
  const Gdiplus::ARGB background = ColorFromHex(alertDocument.color_fondo);
  if (scalingWorker) {
    auto cell = std::make_shared<UpdatePictureCell>();
    auto bytes = std::make_shared<std::string>(std::move(body));
    const uint64_t ticket = scalingWorker->Post([cell, bytes, layout, background, window] {
      UniqueBitmap picture = PictureFromBody(std::move(*bytes));
      UniqueBitmap scaled = picture ? ScaleUpdatePicture(*picture, layout, background) : nullptr;
      {
        std::lock_guard<std::mutex> hold(cell->lock);
        cell->picture = std::move(picture);
        cell->scaled = std::move(scaled);
        cell->ready = true;
      }
      // A window that has gone takes no message; the picture goes with the cell.
      ::PostMessageW(window, WM_REMOTE_ARRIVED, 0, 0);
    });
    if (ticket != 0) {
      state.pictureScaling = std::move(cell);
      return;
    }
    body = std::move(*bytes);
  }
  UniqueBitmap picture = PictureFromBody(std::move(body));
  UniqueBitmap scaled = picture ? ScaleUpdatePicture(*picture, layout, background) : nullptr;
  ShowUpdatePicture(window, state, std::move(picture), std::move(scaled));
}

// A download of the window's own has arrived: the terms go into their box, the update picture
// is drawn where the layout puts it, on a paint of its own.
void OnRemoteArrived(HWND window, AlertWindowState* state) {
  if (!state) return;
  FetchedBody arrived;
  if (state->termsArrival && state->termsArrival->Take(&arrived)) {
    state->termsArrival.reset();
    const std::string address =
        currentAlert && !currentAlert->contenido.empty() ? currentAlert->contenido.front().enlace : std::string();
    state->rtfLoaded = ShowTermsDocument(state->richEdit, address, arrived);
    EnableAcceptanceWhenDue(*state);
  }
  if (state->pictureArrival && state->pictureArrival->Take(&arrived)) {
    state->pictureArrival.reset();
    if (arrived.ok) DecodeUpdatePicture(window, *state, std::move(arrived.body));
  }
  if (state->pictureScaling) {
    UniqueBitmap picture, scaled;
    {
      std::lock_guard<std::mutex> hold(state->pictureScaling->lock);
      if (!state->pictureScaling->ready) return;
      picture = std::move(state->pictureScaling->picture);
      scaled = std::move(state->pictureScaling->scaled);
    }
    state->pictureScaling.reset();
    ShowUpdatePicture(window, *state, std::move(picture), std::move(scaled));
  }
}

// The copy scaled ahead when it has the size the layout gives the picture now.
void DrawUpdatePicture(Gdiplus::Graphics& graphics, const AlertLayout& layout, Gdiplus::Bitmap* picture,
                       Gdiplus::Bitmap* scaled) {
  if (!picture) return;
  const PixelRect at = UpdatePictureFor(layout, static_cast<int32_t>(picture->GetWidth()),
                                        static_cast<int32_t>(picture->GetHeight()));
  if (scaled && static_cast<int32_t>(scaled->GetWidth()) == at.w && static_cast<int32_t>(scaled->GetHeight()) == at.h) {
    picture = scaled;
  }
  graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
  graphics.DrawImage(picture, at.x, at.y, at.w, at.h);
}

bool IsUpdateWindow(const AlertWindowState* state) {
  return state && currentAlert && AlertKindOf(*currentAlert) == AlertKind::UrlActualizar;
}

// Everything the window shows but its controls and the update strip.
void DrawWindow(HDC dc, const AlertLayout& layout, const AlertWindowState* state) {
  Gdiplus::Graphics graphics(dc);
  PaintAlert(graphics, layout, alertDocument, currentAlert, state ? state->scaled.get() : nullptr);
  if (IsUpdateWindow(state)) {
    DrawUpdatePicture(graphics, layout, state->updatePicture.get(), state->updatePictureScaled.get());
  }
}

// The update workers started in this run: the program must not end while one still installs.
std::vector<UniqueHandle> updateWorkers;

void WaitForUpdateWorkers() {
  for (UniqueHandle& worker : updateWorkers) ::WaitForSingleObject(worker.get(), INFINITE);
  updateWorkers.clear();
}

// At the first paint of an update window: the worker. A window that has nothing to install, or
// whose worker cannot start, ends as if its update had finished: nothing else could ever close it.
void StartUpdate(HWND window, AlertWindowState& state) {
  state.updateStarted = true;
  state.progress = std::make_shared<UpdateProgressCell>();
  if (!currentAlert->contenido.empty()) {
    ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
    UniqueHandle worker = StartUpdateWorker(window, currentAlert->contenido.front().enlace, state.progress);
    if (worker) {
      updateWorkers.push_back(std::move(worker));
      return;
    }
  }
  state.progress->Finish();
  ::PostMessageW(window, WM_UPDATE_FINISHED, 0, 0);
}

// Only the window's own run ends it: the message alone can come from any process, and ending the
// window mid-install would let the program end, or the next update alert start beside it.
void OnUpdateFinished(HWND window, const AlertWindowState* state) {
  if (!IsUpdateWindow(state) || !state->progress || !state->progress->Finished()) return;
  ::DestroyWindow(window);
}

// Only the strip is drawn again. The message carries nothing: the report is read from the cell
// the worker writes, so a stray or forged message only draws the strip as it already is.
void OnUpdateProgress(HWND window, AlertWindowState* state) {
  if (!state || !state->progress || !state->progress->Read(&state->progressShown)) return;
  state->progressKnown = true;
  HDC dc = ::GetDC(window);
  if (!dc) return;
  RECT client{};
  ::GetClientRect(window, &client);
  PaintProgressStrip(dc, MakeAlertLayout(client), state->progressShown);
  ::ReleaseDC(window, dc);
}

void OnPaint(HWND window, AlertWindowState* state) {
  PAINTSTRUCT paint{};
  HDC dc = ::BeginPaint(window, &paint);
  RECT client{};
  ::GetClientRect(window, &client);
  const AlertLayout layout = MakeAlertLayout(client);
  const bool update = IsUpdateWindow(state);
  if (update && !state->updateStarted) {
    // The run first; the picture comes on a worker of its own and is drawn when it arrives.
    StartUpdate(window, *state);
    if (!currentAlert->contenido.empty()) {
      state->pictureArrival = std::make_shared<FetchCell>();
      const std::string picture = WideToUtf8(TestBuiltInAddress(BRIVON_UPDATE_PICTURE_URL));
      if (!StartWindowFetch(window, picture, kImageUserAgent, state->pictureArrival)) {
        state->pictureArrival.reset();
      }
    }
  }
  PaintAlertWindow(dc, paint.rcPaint, layout, state);
  if (currentAlert && state && AlertKindOf(*currentAlert) == AlertKind::DocumentoRtf) {
    SetUpTerms(window, *state, layout);
  }
  ::EndPaint(window, &paint);
}

bool IsOnChild(HWND window, HWND child, int32_t x, int32_t y) {
  RECT at{};
  if (!child || !::GetWindowRect(child, &at)) return false;
  ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&at), 2);
  return x >= at.left && x < at.right && y >= at.top && y < at.bottom;
}

// A click on the disabled acceptance button, or on the words beside it that an acceptance could
// not be saved, reaches the window itself; it must not count as a click in the close bar around them.
bool IsOnAcceptButton(HWND window, const AlertWindowState* state, int32_t x, int32_t y) {
  return state && (IsOnChild(window, state->acceptButton, x, y) || IsOnChild(window, state->acceptNotice, x, y));
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
  if (currentAlert && AlertKindOf(*currentAlert) == AlertKind::UrlActualizar) return;
  const int32_t x = LOWORD(lParam);
  const int32_t y = HIWORD(lParam);
  RECT client{};
  ::GetClientRect(window, &client);
  if (!IsInCloseBar(client, y)) {
    if (!currentAlert) return;
    const std::vector<std::string> links = LinksAt(*currentAlert, x, y);
    if (links.empty()) return;
    StepBackForBrowser(window, state);
    OpenLinks(links);
    return;
  }
  if (IsOnAcceptButton(window, state, x, y)) return;
  // The click's own time, not the time it is handled: a first paint that took long (terms still
  // downloading) leaves the second click of a double click waiting in the queue.
  if (state && !CloseBarTakesClick(static_cast<DWORD>(::GetMessageTime()), state->shownAt, ::GetDoubleClickTime()))
    return;
  ArchiveSetAsideProgram();
  ::DestroyWindow(window);
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

void OnAccept(HWND window, AlertWindowState* state) {
  if (!currentAlert || currentAlert->contenido.empty()) return;
  // Only through the button, once it is enabled: a message sent from elsewhere records nothing.
  if (!state || !state->acceptButton || !::IsWindowEnabled(state->acceptButton) || state->acceptance) return;
  // The record may be held for seconds: written on a worker while the window answers, the button
  // disabled meanwhile so that a second press writes no second line.
  const std::string& link = currentAlert->contenido.front().enlace;
  auto cell = std::make_shared<AcceptanceCell>();
  ::EnableWindow(state->acceptButton, FALSE);
  if (StartRecordingAcceptance(window, link, cell)) {
    state->acceptance = std::move(cell);
    return;
  }
  if (RecordAcceptance(link)) {
    ::DestroyWindow(window);
  } else {
    ShowAcceptanceNotSaved(window, *state);
  }
}

// The window closes as accepted only once the line is on the disk.
void OnAcceptanceWritten(HWND window, AlertWindowState* state) {
  bool saved = false;
  if (!state || !state->acceptance || !state->acceptance->Finished(&saved)) return;
  state->acceptance.reset();
  if (saved) {
    ::DestroyWindow(window);
  } else {
    ShowAcceptanceNotSaved(window, *state);
  }
}

// Another screen size (a remote session reconnected from a smaller screen, a dock, another
// primary screen): the window covers the new primary screen, its controls laid out again.
void OnDisplayChange(HWND window, AlertWindowState* state) {
  ::SetWindowPos(window, nullptr, 0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  if (state) {
    state->drawn.Drop();  // another depth or size: what was drawn no longer fits
    RECT client{};
    ::GetClientRect(window, &client);
    const AlertLayout layout = MakeAlertLayout(client);
    PlaceChild(state->richEdit, TermsBoxRect(layout));
    PlaceChild(state->acceptButton, AcceptButtonRect(layout));
    PlaceChild(state->acceptNotice, AcceptNoticeRect(layout));
  }
  ::InvalidateRect(window, nullptr, FALSE);
}

AlertFocus FocusIn(const AlertWindowState* state) {
  const HWND focus = ::GetFocus();
  if (state && focus && focus == state->richEdit) return AlertFocus::TermsBox;
  if (state && focus && focus == state->acceptButton) return AlertFocus::AcceptButton;
  return AlertFocus::Window;
}

// Keys for the window and its controls, before they reach the control that has the keyboard.
// True when the key was used.
bool HandleAlertKey(HWND window, const MSG& message) {
  if (message.message != WM_KEYDOWN) return false;
  if (message.hwnd != window && !::IsChild(window, message.hwnd)) return false;
  AlertWindowState* state = StateOf(window);
  KeyContext context;
  context.focus = FocusIn(state);
  context.hasTerms = state && state->richEdit && state->acceptButton;
  context.buttonEnabled = context.hasTerms && ::IsWindowEnabled(state->acceptButton);
  context.closable = currentAlert && AlertKindOf(*currentAlert) != AlertKind::UrlActualizar;
  const bool repeated = (message.lParam & (1L << 30)) != 0;
  switch (ActionForKey(static_cast<UINT>(message.wParam), repeated, context)) {
    case KeyAction::FocusBox:
      ::SetFocus(state->richEdit);
      return true;
    case KeyAction::FocusButton:
      ::SetFocus(state->acceptButton);
      return true;
    case KeyAction::PressButton:
      ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_ACCEPT_TERMS, BN_CLICKED),
                     reinterpret_cast<LPARAM>(state->acceptButton));
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

LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  AlertWindowState* state = StateOf(window);
  switch (message) {
    case WM_CREATE: {
      auto fresh = std::make_unique<AlertWindowState>();
      RECT client{};
      ::GetClientRect(window, &client);
      if (HDC dc = ::GetDC(window)) {
        fresh->drawn.Prepare(dc, client.right - client.left, client.bottom - client.top);
        ::ReleaseDC(window, dc);
      }
      ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(fresh.release()));
      if (currentAlert) AnnounceAlert(window, AlertAnnouncement(alertDocument.titulo, *currentAlert));
      return 0;
    }
    case WM_DESTROY:
      ForgetAnnouncement(window);
      if (state) {
        std::unique_ptr<AlertWindowState> owned(state);
        if (owned->richEdit) ::DestroyWindow(owned->richEdit);
        if (owned->acceptButton) ::DestroyWindow(owned->acceptButton);
        if (owned->acceptNotice) ::DestroyWindow(owned->acceptNotice);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      }
      return 0;
    case WM_CLOSE:
      // Only a person's action ends an alert window.
      return 0;
    case WM_TIMER:
      if (wParam == IDT_ACCEPT_DELAY) {
        ::KillTimer(window, IDT_ACCEPT_DELAY);
        if (state) {
          state->acceptDelayOver = true;
          EnableAcceptanceWhenDue(*state);
        }
      }
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
      if (LOWORD(wParam) == IDC_ACCEPT_TERMS) OnAccept(window, state);
      return 0;
    case WM_UPDATE_PROGRESS:
      OnUpdateProgress(window, state);
      return 0;
    case WM_UPDATE_FINISHED:
      OnUpdateFinished(window, state);
      return 0;
    case WM_REMOTE_ARRIVED:
      OnRemoteArrived(window, state);
      return 0;
    case WM_ACCEPTANCE_WRITTEN:
      OnAcceptanceWritten(window, state);
      return 0;
    case WM_DISPLAYCHANGE:
      OnDisplayChange(window, state);
      return 0;
    default:
      return ::DefWindowProcW(window, message, wParam, lParam);
  }
}

void ShowOneAlert(HINSTANCE instance, int showCommand, std::shared_ptr<const ScaledPictures> scaled) {
  // Clipping its children: a repaint from the kept copy never covers the terms box.
  HWND window = ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kAlertWindowClass, kAlertWindowTitle,
                                  WS_POPUP | WS_CLIPCHILDREN,
                                  0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN), nullptr,
                                  nullptr, instance, nullptr);
  if (!window) return;
  if (AlertWindowState* state = StateOf(window)) state->scaled = std::move(scaled);
  ::SetForegroundWindow(window);
  ::SetFocus(window);
  ::SetActiveWindow(window);
  ::ShowWindow(window, AlertShowCommand(showCommand));
  // The first show of a process may follow the starter's wish instead of ours.
  if (!::IsWindowVisible(window) || ::IsIconic(window)) ::ShowWindow(window, SW_SHOWNORMAL);
  if (AlertWindowState* state = StateOf(window)) state->shownAt = ::GetTickCount();
  ::UpdateWindow(window);
  MSG message{};
  while (::IsWindow(window)) {
    if (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (HandleAlertKey(window, message)) continue;
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    } else {
      ::Sleep(10);
    }
  }
}

}  // namespace

void PaintAlertWindow(HDC dc, const RECT& area, const AlertLayout& layout, AlertWindowState* state) {
  if (state && state->drawn.Holds(layout.width, layout.height)) {
    state->drawn.CopyTo(dc, area);
  } else if (HDC surface = state ? state->drawn.Begin(dc, layout.width, layout.height) : nullptr) {
    DrawWindow(surface, layout, state);
    state->drawn.Finish();
    state->drawn.CopyTo(dc, area);
  } else {  // no memory for a copy: drawn straight onto the window, this time and the next
    DrawWindow(dc, layout, state);
  }
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

int RunAlertWindows(HINSTANCE instance, int showCommand) {
  // Most starts have nothing to show: GDI+ starts with the first picture or the first alert, and
  // the rich-edit libraries with the first alert, so a document without one costs neither.
  std::optional<GdiplusSession> gdiplus;  // outlives every picture
  const auto startGdiplus = [&gdiplus] {
    if (!gdiplus) gdiplus.emplace();
    return gdiplus->started();
  };
  ScalingWorker scaling;  // stops before GDI+ does
  try {
    if (!EnsureLogFolder()) return -1;
    if (!ParseAlertDocument(kAlertDocumentPath, alertDocument, {})) return -1;
    if (alertDocument.alertas.empty()) return 0;
    if (!startGdiplus()) return -1;
    // Each alert's pictures are scaled on the worker as soon as they are decoded, the first two
    // alerts' while the later pictures still arrive, each next one's while the one before shows:
    // copies for two windows at most are held at a time.
    scalingWorker = &scaling;
    const size_t alertCount = alertDocument.alertas.size();
    std::vector<uint64_t> tickets(alertCount, 0);
    std::vector<std::shared_ptr<ScaledPictures>> scaled(alertCount);
    std::vector<char> posted(alertCount, 0);
    const auto prepare = [&](size_t index) {
      if (index >= alertCount || posted[index]) return;
      posted[index] = 1;
      auto into = std::make_shared<ScaledPictures>();
      const Alert* alert = &alertDocument.alertas[index];
      const AlertLayout layout = MakeAlertLayout(::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN));
      tickets[index] =
          scaling.Post([into, alert, layout] { ScaleAlertPictures(alertDocument, *alert, layout, *into); });
      if (tickets[index] != 0) scaled[index] = std::move(into);
    };
    // Side by side, within one deadline for them all: the first window never waits longer.
    FetchDocumentPictures(alertDocument, [&](size_t index) {
      if (index < 2) prepare(index);
    });
    // "RICHEDIT50W" comes from the second; both stay loaded until the last window is gone.
    UniqueModule richEdit20 = LoadSystemLibrary(L"Riched20.dll");
    UniqueModule richEdit41 = LoadSystemLibrary(L"Msftedit.dll");

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = AlertWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kAlertWindowClass;
    ::RegisterClassExW(&windowClass);

    for (size_t i = 0; i < alertCount; ++i) {
      prepare(i);
      prepare(i + 1);
      // The worker no longer touches this alert's pictures: the window may.
      scaling.WaitFor(tickets[i]);
      currentAlert = &alertDocument.alertas[i];
      ShowOneAlert(instance, showCommand, std::move(scaled[i]));
    }
    currentAlert = nullptr;
    WaitForUpdateWorkers();
    WaitForFetchWorkers();
    WaitForAcceptanceWriters();
    // Pictures must go while GDI+ still runs, and only once the worker has left them.
    scaling.Stop();
    scalingWorker = nullptr;
    alertDocument.ReleaseImages();
    return 0;
  } catch (...) {
    currentAlert = nullptr;
    WaitForUpdateWorkers();
    WaitForFetchWorkers();
    WaitForAcceptanceWriters();
    scaling.Stop();
    scalingWorker = nullptr;
    alertDocument.ReleaseImages();
    return -1;
  }
}

}  // namespace brivon
