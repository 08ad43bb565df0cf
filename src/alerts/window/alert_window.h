// The alert windows: one borderless, topmost, full-screen window per alert of the document,
// shown strictly one after another, each ended only by a person's action (or its update).
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>

#include "alerts/model/alert_model.h"
#include "alerts/window/alert_actions.h"
#include "alerts/window/alert_layout.h"
#include "alerts/window/paint_cache.h"
#include "alerts/window/scaled_pictures.h"
#include "alerts/window/update_worker.h"
#include "alerts/window/window_fetch.h"
#include "common/gdiplus_owners.h"

namespace brivon {

inline constexpr wchar_t kAlertWindowClass[] = L"AlertaWindowClass";
inline constexpr wchar_t kAlertWindowTitle[] = L"ESTO ES UNA ALERTA";
inline constexpr wchar_t kAcceptButtonText[] = L"Acepto los terminos y condiciones";
inline constexpr int IDC_ACCEPT_TERMS = 1001;
inline constexpr int IDC_ACCEPT_NOTICE = 1002;
inline constexpr UINT_PTR IDT_ACCEPT_DELAY = 1;
inline constexpr UINT kAcceptDelayMs = 5000;
inline constexpr UINT WM_UPDATE_FINISHED = WM_APP + 100;

// The alert whose window is open; null between windows.
extern Alert* currentAlert;

// The update picture, decoded and scaled on the scaling worker; the window takes it once the
// worker has put it (and said so with WM_REMOTE_ARRIVED).
struct UpdatePictureCell {
  std::mutex lock;
  bool ready = false;
  UniqueBitmap picture;
  UniqueBitmap scaled;
};

struct AlertWindowState {
  HWND richEdit = nullptr;
  HWND acceptButton = nullptr;
  bool acceptTimerStarted = false;
  bool updateStarted = false;
  // Per window, so every terms alert shows its own document.
  bool rtfRequested = false;
  bool rtfLoaded = false;         // the document itself arrived and is shown
  bool acceptDelayOver = false;   // the 5-second delay has passed
  bool steppedBack = false;       // gave up its topmost place to a browser it started
  // The acceptance being written, and what the window says when one could not be saved.
  std::shared_ptr<AcceptanceCell> acceptance;
  HWND acceptNotice = nullptr;
  DWORD shownAt = 0;              // tick count when it was first shown
  // What the window's own downloads bring, while they are on their way: its terms document, its
  // update picture.
  std::shared_ptr<FetchCell> termsArrival;
  std::shared_ptr<FetchCell> pictureArrival;
  // The update of an update window: its picture, fetched once, and its copy scaled where the
  // layout puts it (both decoded and scaled off the window's thread); the cell its worker writes,
  // and what was last drawn of it.
  UniqueBitmap updatePicture;
  UniqueBitmap updatePictureScaled;
  std::shared_ptr<UpdatePictureCell> pictureScaling;
  std::shared_ptr<UpdateProgressCell> progress;
  bool progressKnown = false;
  UpdateProgress progressShown;
  // The alert's pictures, scaled before the window showed; a picture without its copy here (a
  // screen that changed size since) is scaled by the paint itself.
  std::shared_ptr<const ScaledPictures> scaled;
  // The window as drawn at its first paint; later paints copy it.
  PaintCache drawn;
};

// One paint of the window onto dc: at the first, the frame, the kind's content and the update
// picture are drawn and kept; later paints copy what was kept. Then the update strip, when the
// update has reported. area: the part that needs painting.
void PaintAlertWindow(HDC dc, const RECT& area, const AlertLayout& layout, AlertWindowState* state);

// The show command to use: one that would hide or minimise a window that only a click can end
// becomes a normal show.
int AlertShowCommand(int showCommand);

// 0 when the document was shown (also with no alerts); -1 when GDI+ cannot start, the log
// folder cannot be made or the document cannot be read.
int RunAlertWindows(HINSTANCE instance, int showCommand);

LRESULT CALLBACK AlertWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace brivon
