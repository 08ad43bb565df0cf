// What one alert window holds while it is open: what it shows, its controls, what its workers
// bring, and the copy of its first paint. Owned by whoever shows the window (the run, or a test
// that paints one); the window reaches it through GWLP_USERDATA.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "alerts/model/alert_model.h"
#include "alerts/model/gdiplus_owners.h"
#include "alerts/window/alert_actions.h"
#include "alerts/window/paint_cache.h"
#include "alerts/window/scaled_pictures.h"
#include "alerts/window/update_worker.h"
#include "alerts/window/window_fetch.h"

namespace brivon {

class AlertRun;

// The update picture, decoded and scaled on the scaling worker; the window takes it once the
// worker has put it (and said so with WM_REMOTE_ARRIVED to `wake`). One fetched ahead is decoded
// as it arrives, before there is a window to wake.
struct UpdatePictureCell {
  std::mutex lock;
  std::condition_variable done;  // told once ready
  bool arrived = false;  // its download is over: the decoding has begun, or is done
  bool ready = false;
  HWND wake = nullptr;
  UniqueBitmap picture;
  UniqueBitmap scaled;
};

// The alert's pictures scaled again for a new screen size, put by the scaling worker; the window
// takes them once ready (and said so with WM_REMOTE_ARRIVED). Ready also when the scaling failed:
// the worker has left the pictures either way.
struct RescaledPicturesCell {
  std::mutex lock;
  bool ready = false;
  std::shared_ptr<const ScaledPictures> pictures;
};

struct AlertWindowState {
  // The document and the alert the window shows, and the run that shows it: null where a window
  // is only painted (the painting tests, the bench).
  const AlertDocument* document = nullptr;
  Alert* alert = nullptr;
  AlertRun* run = nullptr;
  HWND richEdit = nullptr;
  HWND acceptButton = nullptr;
  bool acceptTimerStarted = false;
  bool updateStarted = false;
  // Per window, so every terms alert shows its own document.
  bool rtfRequested = false;
  bool rtfLoaded = false;         // the document itself arrived and is shown
  bool acceptDelayOver = false;   // the 5-second delay has passed
  bool steppedBack = false;       // gave up its topmost place to a browser it started
  // The acceptance being written (the window closes only once it is saved or has failed), and
  // what the window says when one could not be saved.
  std::shared_ptr<AcceptanceCell> acceptance;
  HWND acceptNotice = nullptr;
  UINT keyHeldOnButton = 0;       // Enter or Space pressed on the button: it accepts on release
  DWORD shownAt = 0;              // tick count when it was first shown
  bool announced = false;         // its words are its accessible description
  // What the window's own downloads bring, while they are on their way: its terms document, its
  // update picture.
  std::shared_ptr<FetchCell> termsArrival;
  std::shared_ptr<FetchCell> pictureArrival;
  // Its own download when it was started before the window was made; the window takes it over.
  std::shared_ptr<FetchCell> ownDownload;
  bool updatePictureRequested = false;  // taken over or started: an update picture is fetched once
  // The update of an update window: its picture, fetched once, and its copy scaled where the
  // layout puts it (both decoded and scaled off the window's thread); the cell its worker writes,
  // and what was last drawn of it.
  UniqueBitmap updatePicture;
  UniqueBitmap updatePictureScaled;
  std::shared_ptr<UpdatePictureCell> pictureScaling;
  std::shared_ptr<UpdateProgressCell> progress;
  bool progressKnown = false;
  UpdateProgress progressShown;
  // The alert's pictures, scaled before the window showed or again after a change of the screen;
  // copies made for another screen size are never drawn, and a picture without its copy is scaled
  // by the paint itself.
  std::shared_ptr<const ScaledPictures> scaled;
  // While the worker scales the pictures again, the window leaves them to it and draws the frame.
  std::shared_ptr<RescaledPicturesCell> rescaling;
  // The window as drawn once; later paints copy it. The first paint draws straight onto the
  // window, and the next one that needs it makes it.
  PaintCache drawn;
  bool paintedOnce = false;
};

// Whether the window shows an alert of this kind.
inline bool ShowsKind(const AlertWindowState& state, AlertKind kind) {
  return state.alert && AlertKindOf(*state.alert) == kind;
}

// The address of the alert's first entry: a terms alert's document, an update alert's package.
inline std::string FirstLink(const AlertWindowState& state) {
  return state.alert && !state.alert->contenido.empty() ? state.alert->contenido.front().enlace : std::string();
}

}  // namespace brivon
