#include "alerts/window/update_worker.h"

#include <memory>
#include <new>

#include "alerts/window/alert_window.h"
#include "update/update_run.h"

namespace brivon {

bool ProgressReportDue(DWORD now, DWORD lastReport, bool reportedBefore, uint64_t soFar, uint64_t total) {
  if (!reportedBefore) return true;
  if (total != 0 && soFar >= total) return true;
  return now - lastReport >= kProgressIntervalMs;
}

DWORD WINAPI UpdateWorker(LPVOID parameter) {
  std::unique_ptr<UpdateRequest> request(static_cast<UpdateRequest*>(parameter));
  DWORD lastReport = 0;
  bool reported = false;
  HWND window = request->window;
  try {
    RunUpdate(request->packageUrl, [&](uint64_t soFar, uint64_t total) {
      DWORD now = ::GetTickCount();
      if (!ProgressReportDue(now, lastReport, reported, soFar, total)) return;
      lastReport = now;
      reported = true;
      // Never throws into the download: a report that cannot be made is skipped, not the update.
      auto* progress = new (std::nothrow) UpdateProgress{soFar, total};
      if (progress && !::PostMessageW(window, WM_UPDATE_PROGRESS, 0, reinterpret_cast<LPARAM>(progress))) {
        delete progress;
      }
    });
  } catch (...) {
    // The window must close whatever happened to the run.
  }
  ::PostMessageW(window, WM_UPDATE_FINISHED, 0, 0);
  return 0;
}

bool StartUpdateWorker(HWND window, const std::string& packageUrl) {
  auto* request = new UpdateRequest{window, packageUrl};
  HANDLE thread = ::CreateThread(nullptr, 0, UpdateWorker, request, 0, nullptr);
  if (!thread) {
    delete request;
    return false;
  }
  ::CloseHandle(thread);  // runs detached
  return true;
}

}  // namespace brivon
