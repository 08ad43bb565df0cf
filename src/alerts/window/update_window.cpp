#include "alerts/window/update_window.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <utility>

#include "alerts/window/alert_messages.h"
#include "alerts/window/alert_run.h"
#include "alerts/window/own_download.h"
#include "alerts/window/progress_strip.h"
#include "alerts/window/remote_resources.h"

namespace brivon {
namespace {

// How long the hidden window, waiting for its update picture, goes without answering what is
// sent to it.
constexpr ULONGLONG kAnswerSentWithinMs = 50;

void ShowUpdatePicture(HWND window, AlertWindowState& state, UniqueBitmap picture, UniqueBitmap scaled) {
  state.updatePicture = std::move(picture);
  state.updatePictureScaled = std::move(scaled);
  if (state.updatePicture) {
    state.drawn.Forget();
    ::InvalidateRect(window, nullptr, FALSE);
  }
}

// Puts the picture and its copy for layout into cell (nothing for a body that is no picture),
// and wakes the window the cell names by then.
void DecodeAndScale(UpdatePictureCell& cell, std::string body, const AlertLayout& layout, Gdiplus::ARGB background) {
  UniqueBitmap picture;
  UniqueBitmap scaled;
  try {
    picture = PictureFromBody(std::move(body));
    if (picture) scaled = ScaleUpdatePicture(*picture, layout, background);
  } catch (...) {
    // Out of memory: the window goes on without its picture.
  }
  HWND wake = nullptr;
  {
    std::lock_guard<std::mutex> hold(cell.lock);
    cell.picture = std::move(picture);
    cell.scaled = std::move(scaled);
    cell.ready = true;
    wake = cell.wake;
  }
  cell.done.notify_all();
  // A window that has gone takes no message; the picture goes with the cell.
  if (wake) ::PostMessageW(wake, WM_REMOTE_ARRIVED, 0, 0);
}

// The update picture is decoded and scaled on the run's scaling worker, which says when it is
// done; without one, here.
void DecodeUpdatePicture(HWND window, AlertWindowState& state, std::string body) {
  RECT client{};
  ::GetClientRect(window, &client);
  const AlertLayout layout = MakeAlertLayout(client);
  const Gdiplus::ARGB background = ColorFromHex(state.document ? state.document->color_fondo : std::string());
  auto cell = std::make_shared<UpdatePictureCell>();
  cell->arrived = true;
  cell->wake = window;
  auto bytes = std::make_shared<std::string>(std::move(body));
  if (state.run && state.run->scaling().Post([cell, bytes, layout, background] {
        DecodeAndScale(*cell, std::move(*bytes), layout, background);
      }) != 0) {
    state.pictureScaling = std::move(cell);
    return;
  }
  cell->wake = nullptr;  // decoded here, on the window's own thread: no message to wait for
  DecodeAndScale(*cell, std::move(*bytes), layout, background);
  ShowUpdatePicture(window, state, std::move(cell->picture), std::move(cell->scaled));
}

// Whether the picture decoded ahead has come; the window hears when it is ready.
bool WakeWhenDecoded(UpdatePictureCell& cell, HWND window) {
  bool arrived = false;
  bool ready = false;
  {
    std::lock_guard<std::mutex> hold(cell.lock);
    cell.wake = window;
    arrived = cell.arrived;
    ready = cell.ready;
  }
  if (ready) ::PostMessageW(window, WM_REMOTE_ARRIVED, 0, 0);
  return arrived;
}

// Until the cell is ready, withinMs at most: woken the moment it is, and meanwhile what is sent
// to the hidden window is answered.
void WaitUntilDecoded(UpdatePictureCell& cell, DWORD withinMs) {
  const ULONGLONG until = ::GetTickCount64() + withinMs;
  for (ULONGLONG now = ::GetTickCount64(); now < until; now = ::GetTickCount64()) {
    {
      std::unique_lock<std::mutex> hold(cell.lock);
      const ULONGLONG slice = std::min<ULONGLONG>(until - now, kAnswerSentWithinMs);
      if (cell.done.wait_for(hold, std::chrono::milliseconds(slice), [&cell] { return cell.ready; })) return;
    }
    MSG message{};
    ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

void StartUpdate(HWND window, AlertWindowState& state) {
  state.updateStarted = true;
  state.progress = std::make_shared<UpdateProgressCell>();
  if (state.run && state.alert && !state.alert->contenido.empty()) {
    ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
    const std::string package = state.alert->contenido.front().enlace;
    if (state.run->KeepThread([&] { return StartUpdateWorker(window, package, state.progress); })) return;
  }
  state.progress->Finish();
  ::PostMessageW(window, WM_UPDATE_FINISHED, 0, 0);
}

}  // namespace

void StartUpdateWindow(HWND window, AlertWindowState& state) {
  StartUpdate(window, state);
  if (!state.alert || state.alert->contenido.empty()) return;
  // Already taken before the show, when it had come by then.
  if (!state.updatePictureRequested) {
    state.updatePictureRequested = true;
    state.pictureArrival = OwnDownloadFor(window, state);
  }
}

void TakeUpdatePicture(HWND window, AlertWindowState& state) {
  FetchedBody arrived;
  if (state.pictureArrival && state.pictureArrival->Take(&arrived)) {
    state.pictureArrival.reset();
    if (arrived.ok) DecodeUpdatePicture(window, state, std::move(arrived.body));
  }
  if (!state.pictureScaling) return;
  UniqueBitmap picture, scaled;
  {
    std::lock_guard<std::mutex> hold(state.pictureScaling->lock);
    if (!state.pictureScaling->ready) return;
    picture = std::move(state.pictureScaling->picture);
    scaled = std::move(state.pictureScaling->scaled);
  }
  state.pictureScaling.reset();
  ShowUpdatePicture(window, state, std::move(picture), std::move(scaled));
}

std::shared_ptr<UpdatePictureCell> DecodeUpdatePictureOnArrival(const std::shared_ptr<FetchCell>& download,
                                                                std::shared_ptr<DecodingGate> gate,
                                                                Gdiplus::ARGB background) {
  if (!download || !gate) return nullptr;
  auto cell = std::make_shared<UpdatePictureCell>();
  // Runs inside the download's Put, or here: the download is there either way.
  FetchCell* arrival = download.get();
  download->WhenArrived([arrival, cell, gate = std::move(gate), background] {
    FetchedBody arrived;
    if (!arrival->Take(&arrived)) return;
    {
      std::lock_guard<std::mutex> hold(cell->lock);
      cell->arrived = true;
    }
    // The window, made later, covers the screen as it is when the picture comes.
    const AlertLayout layout = ScreenLayout();
    std::lock_guard<std::mutex> open(gate->lock);
    if (gate->open) DecodeAndScale(*cell, arrived.ok ? std::move(arrived.body) : std::string(), layout, background);
  });
  return cell;
}

void PrepareArrivedUpdatePicture(HWND window, AlertWindowState& state, DWORD withinMs) {
  if (!ShowsKind(state, AlertKind::UrlActualizar)) return;
  if (state.pictureScaling) {
    if (!WakeWhenDecoded(*state.pictureScaling, window)) return;
  } else {
    if (!state.ownDownload || !state.ownDownload->Arrived()) return;
    state.updatePictureRequested = true;
    state.pictureArrival = OwnDownloadFor(window, state);
    TakeUpdatePicture(window, state);
  }
  if (state.pictureScaling) WaitUntilDecoded(*state.pictureScaling, withinMs);
  TakeUpdatePicture(window, state);
}

void DrawUpdatePicture(Gdiplus::Graphics& graphics, const AlertLayout& layout, const AlertWindowState& state) {
  Gdiplus::Bitmap* picture = state.updatePicture.get();
  if (!picture) return;
  const PixelRect at = UpdatePictureFor(layout, static_cast<int32_t>(picture->GetWidth()),
                                        static_cast<int32_t>(picture->GetHeight()));
  Gdiplus::Bitmap* scaled = state.updatePictureScaled.get();
  UniqueBitmap madeHere;
  if (scaled && static_cast<int32_t>(scaled->GetWidth()) == at.w && static_cast<int32_t>(scaled->GetHeight()) == at.h) {
    picture = scaled;
  } else if ((madeHere = ScalePicture(*picture, at.w, at.h, std::nullopt))) {
    // Scaled here by the same filter as ahead: the same pixels.
    picture = madeHere.get();
  }
  graphics.DrawImage(picture, at.x, at.y, at.w, at.h);
}

void OnUpdateProgress(HWND window, AlertWindowState& state) {
  if (!state.progress || !state.progress->Read(&state.progressShown)) return;
  state.progressKnown = true;
  HDC dc = ::GetDC(window);
  if (!dc) return;
  RECT client{};
  ::GetClientRect(window, &client);
  PaintProgressStrip(dc, MakeAlertLayout(client), state.progressShown);
  ::ReleaseDC(window, dc);
}

void OnUpdateFinished(HWND window, AlertWindowState& state) {
  if (!ShowsKind(state, AlertKind::UrlActualizar) || !state.progress || !state.progress->Finished()) return;
  // The last report may not have been drawn yet: its message can come after this one.
  OnUpdateProgress(window, state);
  if (state.progressKnown && state.progressShown.stage == UpdateStage::NeedsFreeSpace &&
      ::SetTimer(window, IDT_FREE_SPACE_NOTICE, kFreeSpaceNoticeMs, nullptr)) {
    return;
  }
  ::DestroyWindow(window);
}

void OnFreeSpaceNoticeOver(HWND window, const AlertWindowState& state) {
  ::KillTimer(window, IDT_FREE_SPACE_NOTICE);
  if (!ShowsKind(state, AlertKind::UrlActualizar) || !state.progress || !state.progress->Finished()) return;
  ::DestroyWindow(window);
}

}  // namespace brivon
