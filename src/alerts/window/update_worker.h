// The update of an update alert runs on a worker thread; the window only hears from it by messages.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace brivon {

// How far the package download has come, written by the worker and read by the window. Shared
// by both, so the window never takes a pointer out of a message: any process of the user can
// post one.
struct UpdateProgressCell {
  std::atomic<uint64_t> soFar{0};
  std::atomic<uint64_t> total{0};  // 0 when the server did not announce the size
  std::atomic<bool> reported{false};
};

// Handed to the worker, which owns and frees it.
struct UpdateRequest {
  HWND window;
  std::string packageUrl;
  std::shared_ptr<UpdateProgressCell> progress;
};

// Posted by the worker while the package downloads, at most ten times a second, after it has
// updated the cell: wParam and lParam are 0 and mean nothing, the cell is the report.
inline constexpr UINT WM_UPDATE_PROGRESS = WM_APP + 101;
inline constexpr DWORD kProgressIntervalMs = 100;

// Whether a progress report is due: the first one, then one per interval, and the last byte.
bool ProgressReportDue(DWORD now, DWORD lastReport, bool reportedBefore, uint64_t soFar, uint64_t total);

DWORD WINAPI UpdateWorker(LPVOID request);

// Starts the worker for window, reporting into progress. False when no thread could be started;
// the request is freed then.
bool StartUpdateWorker(HWND window, const std::string& packageUrl, std::shared_ptr<UpdateProgressCell> progress);

}  // namespace brivon
