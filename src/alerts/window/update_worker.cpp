#include "alerts/window/update_worker.h"

#include <memory>
#include <utility>

#include "alerts/window/alert_messages.h"
#include "common/worker_thread.h"
#include "update/update_run.h"

namespace brivon {

bool ProgressReportDue(DWORD now, DWORD lastReport, bool reportedBefore, bool newStage, uint64_t soFar,
                       uint64_t total, uint64_t shownTotal) {
  if (!reportedBefore || newStage || total != shownTotal) return true;
  if (total != 0 && soFar >= total) return true;
  return now - lastReport >= kProgressIntervalMs;
}

DWORD WINAPI UpdateWorker(LPVOID parameter) {
  std::unique_ptr<UpdateRequest> request(static_cast<UpdateRequest*>(parameter));
  DWORD lastReport = 0;
  bool reported = false;
  UpdateStage lastStage = UpdateStage::Downloading;
  uint64_t shownTotal = 0;
  HWND window = request->window;
  try {
    RunUpdate(request->packageUrl, [&](const UpdateProgress& progress) {
      DWORD now = ::GetTickCount();
      const bool newStage = progress.stage != lastStage;
      if (!ProgressReportDue(now, lastReport, reported, newStage, progress.soFar, progress.total, shownTotal)) return;
      lastReport = now;
      reported = true;
      lastStage = progress.stage;
      shownTotal = progress.total;
      request->progress->Write(progress);
      ::PostMessageW(window, WM_UPDATE_PROGRESS, 0, 0);
    });
  } catch (...) {
    // The window must close whatever happened to the run.
  }
  request->progress->Finish();
  ::PostMessageW(window, WM_UPDATE_FINISHED, 0, 0);
  return 0;
}

UniqueHandle StartUpdateWorker(HWND window, const std::string& packageUrl,
                               std::shared_ptr<UpdateProgressCell> progress) {
  if (!progress) return {};
  return StartWorkerThread(UpdateWorker,
                           std::unique_ptr<UpdateRequest>(new UpdateRequest{window, packageUrl, std::move(progress)}));
}

}  // namespace brivon
