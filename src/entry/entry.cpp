// The program's entry: one fixed sequence, each step to its end, then exit code 0.
#include <windows.h>

#include "alerts/window/alert_run.h"
#include "checkin/checkin.h"
#include "common/activity_log.h"
#include "common/log_line.h"
#include "common/program_folder.h"
#include "common/system_library.h"
#include "common/text.h"
#include "files/folder_lock.h"
#include "housekeeping/housekeeping.h"
#include "sevenzip/tool_fetch.h"
#include "update/update_repair.h"

namespace {

void RunStartupSequence(HINSTANCE instance, int showCommand) {
  std::wstring programFolder = brivon::GetProgramFolder();
  // Relative paths (the alert document, the terms record) must meet the program's own folder,
  // whatever folder the program was started from.
  if (!programFolder.empty()) ::SetCurrentDirectoryW(brivon::AsCurrentDirectory(programFolder).c_str());

  // A second start in the same folder, through any path or from another machine, would race this
  // one over the same files (a repair could undo a live run's set-aside): it leaves at once.
  brivon::FolderLock folderLock(programFolder);
  if (folderLock.state() == brivon::FolderLockState::TakenElsewhere) {
    brivon::AppendActivityLog(programFolder, brivon::kDownloadsLog,
                              brivon::LogLine("INICIO_OMITIDO")
                                  .Field("OTRA_EJECUCION_EN_CURSO")
                                  .Field(brivon::FolderLockPath(programFolder))
                                  .Err(folderLock.error()));
    return;
  }

  // An update cut off from outside (End task, a logoff, a power cut) is put right before
  // anything else touches the folder. Without the lock (a folder the user may not write) the
  // repair, the housekeeping and the update do nothing; the check-in and the alerts still run.
  if (folderLock.held()) brivon::RunStartupRepair(programFolder);
  brivon::EnsureArchiveTool(programFolder);
  if (folderLock.held()) brivon::RunStartupHousekeeping(programFolder);
  // The reply's pictures are fetched while it is stored; only a document this start stored is
  // shown: an old one could run an old update again.
  brivon::AlertRun alerts;
  const auto replyRead = [&alerts](const std::string& reply) { alerts.Begin(reply); };
  if (brivon::RunCheckin(replyRead) == brivon::CheckinResult::DocumentNotStored) return;
  brivon::RunAlertWindows(alerts, instance, showCommand);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  // The program folder may be written by the signed-in user: a library of a system name dropped
  // there must never load in place of the system's (GDI+ and bcrypt load when first needed).
  brivon::LoadLibrariesFromSystemFolderOnly();
  // Every start checks in, and WinINet with the libraries it brings takes longer to load than all
  // the work of the start before the check-in: it loads meanwhile.
  brivon::LoadSystemLibraryAhead(L"wininet.dll");
  try {
    RunStartupSequence(instance, showCommand);
  } catch (...) {
    // Nothing may end the program abnormally; each step logs its own failures.
  }
  return 0;
}
