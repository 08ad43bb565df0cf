// The update of an update alert runs on a worker thread; the window only hears from it by messages.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "common/unique_handle.h"
#include "update/update_run.h"

namespace brivon {

// What the run is doing and how far it has come, written by the worker and read by the window.
// Shared by both, so the window never takes a pointer out of a message: any process of the user
// can post one. Written and read whole, so the strip never mixes one stage's text with another's
// measure.
class UpdateProgressCell {
 public:
  void Write(const UpdateProgress& progress) {
    std::lock_guard<std::mutex> hold(lock_);
    value_ = progress;
    reported_ = true;
  }
  // False until the worker's first report.
  bool Read(UpdateProgress* progress) const {
    std::lock_guard<std::mutex> hold(lock_);
    if (reported_) *progress = value_;
    return reported_;
  }
  // Set once the run is over, before WM_UPDATE_FINISHED is posted: the window ends only on this,
  // never on the message alone, which any process can post.
  void Finish() {
    std::lock_guard<std::mutex> hold(lock_);
    finished_ = true;
  }
  bool Finished() const {
    std::lock_guard<std::mutex> hold(lock_);
    return finished_;
  }

 private:
  mutable std::mutex lock_;
  UpdateProgress value_;
  bool reported_ = false;
  bool finished_ = false;
};

// Handed to the worker, which owns and frees it.
struct UpdateRequest {
  HWND window;
  std::string packageUrl;
  std::shared_ptr<UpdateProgressCell> progress;
};

// The worker posts WM_UPDATE_PROGRESS after it has updated the cell: at each new stage, and
// within a stage at most once an interval.
inline constexpr DWORD kProgressIntervalMs = 100;

// Whether a progress report is due: the first one, a new stage, a size not shown yet (shownTotal:
// the last report's), then one per interval, and the last byte.
bool ProgressReportDue(DWORD now, DWORD lastReport, bool reportedBefore, bool newStage, uint64_t soFar,
                       uint64_t total, uint64_t shownTotal);

DWORD WINAPI UpdateWorker(LPVOID request);

// Starts the worker for window, reporting into progress. Gives the thread, which the caller waits
// for before the program may end; none when no thread could be started (the request is freed then).
UniqueHandle StartUpdateWorker(HWND window, const std::string& packageUrl,
                               std::shared_ptr<UpdateProgressCell> progress);

}  // namespace brivon
