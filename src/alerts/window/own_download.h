// What a window fetches for itself: a terms alert's document, an update alert's picture. It is
// started ahead, as soon as the window's alert is prepared, and handed to the window when it is
// made; a window without one started ahead starts its own.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "alerts/model/alert_model.h"
#include "alerts/window/alert_window_state.h"
#include "alerts/window/window_fetch.h"

namespace brivon {

struct OwnDownload {
  std::string address;
  const wchar_t* userAgent = nullptr;
};

// The download alert's window makes for itself; none for the other kinds, and for a terms alert
// without an address.
std::optional<OwnDownload> OwnDownloadOf(const Alert& alert);

// Starts alert's own download before its window is made; none when it has none or no thread
// could start.
std::shared_ptr<FetchCell> StartOwnDownloadAhead(const Alert& alert, FetchWorkers* keeper);

// For window: its own download, the one started ahead (state.ownDownload) or one started now,
// waking it with WM_REMOTE_ARRIVED once it has arrived. None when nothing will arrive.
std::shared_ptr<FetchCell> OwnDownloadFor(HWND window, AlertWindowState& state);

}  // namespace brivon
