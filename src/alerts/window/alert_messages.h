// The messages an alert window hears from the workers it started. None carries anything (wParam
// and lParam are 0): any process of the desk can post one, so the window reads what happened
// from the cell it shares with the worker, never from the message.
#pragma once

#include <windows.h>

namespace brivon {

// The update run is over (UpdateProgressCell::Finished says whether it really is).
inline constexpr UINT WM_UPDATE_FINISHED = WM_APP + 100;
// The update run has a new report in its cell: at each new stage, within a stage at most ten
// times a second.
inline constexpr UINT WM_UPDATE_PROGRESS = WM_APP + 101;
// A download of the window's own (its terms, its update picture) is in its cell, or the update
// picture has been decoded and scaled.
inline constexpr UINT WM_REMOTE_ARRIVED = WM_APP + 102;
// An acceptance of the terms has been written, or has failed (AcceptanceCell says which).
inline constexpr UINT WM_ACCEPTANCE_WRITTEN = WM_APP + 103;

}  // namespace brivon
