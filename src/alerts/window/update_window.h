// The update window's own part: the update run on its worker, started at the window's first
// paint; the update picture, fetched, decoded and scaled off the window's thread and drawn where
// the layout puts it; the progress strip; and the window's end, which only its own run brings.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>
#include <mutex>

#include "alerts/window/alert_layout.h"
#include "alerts/window/alert_window_state.h"
#include "alerts/window/window_fetch.h"

namespace brivon {

// At the first paint: the run first, then the picture's download. A window that has nothing to
// install, or whose worker cannot start, ends as if its update had finished: nothing else could
// ever close it.
void StartUpdateWindow(HWND window, AlertWindowState& state);

// WM_REMOTE_ARRIVED: the picture's download goes to be decoded and scaled, or the decoded picture
// is taken and drawn on a paint of its own.
void TakeUpdatePicture(HWND window, AlertWindowState& state);

// Open while GDI+ runs. A download's thread may outlive the run's wait for it: it decodes only
// while holding the gate open, and the run closes it before GDI+ shuts down.
struct DecodingGate {
  std::mutex lock;
  bool open = true;
};

// An update picture fetched ahead of its window: decoded and scaled for the screen on the
// download's own thread as soon as it arrives, through gate. The window made later takes the
// cell as its state.pictureScaling.
std::shared_ptr<UpdatePictureCell> DecodeUpdatePictureOnArrival(const std::shared_ptr<FetchCell>& download,
                                                                std::shared_ptr<DecodingGate> gate,
                                                                Gdiplus::ARGB background);

// Before an update window is first shown: when its picture, fetched ahead, has already arrived,
// it is decoded and scaled now, waiting at most withinMs (what is sent to the window is answered
// meanwhile), so the first paint draws it. A picture still on its way is not waited for.
void PrepareArrivedUpdatePicture(HWND window, AlertWindowState& state, DWORD withinMs);

// The picture where the layout puts it: the copy scaled ahead when it has the size the layout
// gives the picture now.
void DrawUpdatePicture(Gdiplus::Graphics& graphics, const AlertLayout& layout, const AlertWindowState& state);

// WM_UPDATE_PROGRESS: only the strip is drawn again. The message carries nothing: the report is
// read from the cell the worker writes, so a stray or forged message only draws the strip as it
// already is.
void OnUpdateProgress(HWND window, AlertWindowState& state);

// WM_UPDATE_FINISHED: only the window's own run ends it. The message alone can come from any
// process, and ending the window mid-install would let the program end, or the next update alert
// start beside it.
// A run refused for the room on the drive ends with the strip saying so, for a few seconds
// (IDT_FREE_SPACE_NOTICE) before the window closes.
void OnUpdateFinished(HWND window, AlertWindowState& state);
void OnFreeSpaceNoticeOver(HWND window, const AlertWindowState& state);

inline constexpr UINT_PTR IDT_FREE_SPACE_NOTICE = 2;
inline constexpr UINT kFreeSpaceNoticeMs = 5000;

}  // namespace brivon
