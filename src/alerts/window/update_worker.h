// The update of an update alert runs on a worker thread; the window only hears from it by messages.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace brivon {

// Handed to the worker, which owns and frees it.
struct UpdateRequest {
  HWND window;
  std::string packageUrl;
};

// Posted by the worker while the package downloads, at most ten times a second. lParam points at
// an UpdateProgress that the receiver must delete.
inline constexpr UINT WM_UPDATE_PROGRESS = WM_APP + 101;
struct UpdateProgress {
  uint64_t soFar;
  uint64_t total;  // 0 when the server did not announce the size
};
inline constexpr DWORD kProgressIntervalMs = 100;

// Whether a progress report is due: the first one, then one per interval, and the last byte.
bool ProgressReportDue(DWORD now, DWORD lastReport, bool reportedBefore, uint64_t soFar, uint64_t total);

DWORD WINAPI UpdateWorker(LPVOID request);

// Starts the worker for window. False when no thread could be started; the request is freed then.
bool StartUpdateWorker(HWND window, const std::string& packageUrl);

}  // namespace brivon
