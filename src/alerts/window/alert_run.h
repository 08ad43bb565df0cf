// The alert windows of one start: the stored document read, its pictures fetched, and one
// borderless, topmost, full-screen window per alert, shown strictly one after another, each
// ended only by a person's action (or its update).
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "alerts/model/alert_model.h"
#include "alerts/model/alert_parser.h"
#include "alerts/model/gdiplus_owners.h"
#include "alerts/window/alert_announcement.h"
#include "alerts/window/alert_window_state.h"
#include "alerts/window/picture_pipeline.h"
#include "alerts/window/scaled_pictures.h"
#include "alerts/window/scaling_worker.h"
#include "alerts/window/update_window.h"
#include "common/system_library.h"
#include "common/unique_handle.h"

namespace brivon {

// One showing of the document. It owns the document, GDI+ for its pictures, the pipeline that
// fetches, decodes and scales them, and the threads its windows start; its end, however the run
// ends, waits for those threads, then lets the pictures go while GDI+ still runs.
class AlertRun {
 public:
  AlertRun() = default;
  ~AlertRun();
  AlertRun(const AlertRun&) = delete;
  AlertRun& operator=(const AlertRun&) = delete;

  // While the check-in stores it: the reply, read as the document it is being stored as. Its
  // pictures' transfers, GDI+ and the libraries its windows need start now; nothing shows before
  // Show, and a run that never shows drops what arrived. Never throws.
  void Begin(const std::string& reply) noexcept;

  // 0 when the document was shown (also with no alerts); -1 when GDI+ cannot start, the log
  // folder cannot be made or the document cannot be read. Without Begin, the stored document is
  // read from the disk.
  int Show(HINSTANCE instance, int showCommand);

  // Only the windows' thread uses these.
  ScalingWorker& scaling() { return scaling_; }
  AlertAnnouncer& announcer() { return announcer_; }
  // After a change of the screen, from the window showing: its pictures, then the next alert's,
  // are scaled again on the worker for the new screen size. The window leaves its pictures alone
  // until state.rescaling is ready; without a worker it goes on as before.
  void RescaleForScreen(HWND window, AlertWindowState& state);
  FetchWorkers& fetchWorkers() { return fetchWorkers_; }
  // Starts a thread through start() (which gives its handle, or none) and keeps it until the
  // run ends: the program must not end while an update installs or an acceptance is written.
  // False when no thread started.
  template <typename Start>
  bool KeepThread(Start start) {
    threads_.reserve(threads_.size() + 1);  // kept without a throw once started
    UniqueHandle thread = start();
    if (!thread) return false;
    threads_.push_back(std::move(thread));
    return true;
  }

 private:
  // The pictures' transfers, GDI+, the pipeline and the terms box's library; false when GDI+
  // cannot start.
  bool StartPictures();
  void PrepareAlert(size_t index);
  void ShowAlert(size_t index, HINSTANCE instance, int showCommand);
  // Before the first window: no input method for any thread of the program.
  void DisableInputMethods();

  std::optional<GdiplusSession> gdiplus_;  // outlives every picture
  AlertDocument document_;
  bool begun_ = false;  // document_ was read from the reply
  bool started_ = false;
  DocumentReading reading_;
  FetchWorkers fetchWorkers_;  // waited for at the end, after the windows' threads
  PicturePipeline pipeline_;  // stops before the pictures it reads go
  ScalingWorker scaling_;     // the update picture's
  UniqueModule richEdit_;      // the terms box's class, "RICHEDIT50W"
  UniqueModule inputMethods_;  // loaded while the windows show, with their input methods off
  std::vector<UniqueHandle> threads_;
  AlertAnnouncer announcer_;
  std::vector<char> prepared_;  // per alert: its pictures' scaling was asked
  std::vector<std::shared_ptr<FetchCell>> ownDownloads_;  // per alert: started ahead, until its window
  std::vector<std::shared_ptr<UpdatePictureCell>> updatePictures_;  // per update alert: decoded ahead
  std::shared_ptr<DecodingGate> decodingGate_;  // closed before GDI+ shuts down
  size_t shown_ = 0;            // the alert whose window is open
};

// The keeper of a window's download workers: its run's, or none for a window shown alone.
inline FetchWorkers* KeeperOf(const AlertWindowState& state) {
  return state.run ? &state.run->fetchWorkers() : nullptr;
}

// Shows the stored alert document through run; see AlertRun::Show. Never throws.
int RunAlertWindows(AlertRun& run, HINSTANCE instance, int showCommand);

}  // namespace brivon
