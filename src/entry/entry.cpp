// The program's entry: one fixed sequence, each step to its end, then exit code 0.
#include <windows.h>

#include "alerts/window/alert_window.h"
#include "checkin/checkin.h"
#include "startup/archive_tool.h"
#include "startup/housekeeping.h"
#include "common/program_folder.h"
#include "startup/single_instance.h"
#include "update/update_repair.h"

namespace {

void RunStartupSequence(HINSTANCE instance, int showCommand) {
  std::wstring programFolder = brivon::GetProgramFolder();
  // Relative paths (the alert document, the terms record) must meet the program's own folder,
  // whatever folder the program was started from.
  if (!programFolder.empty()) ::SetCurrentDirectoryW(brivon::AsCurrentDirectory(programFolder).c_str());

  // A second start in the same folder would race this one over the same files (one run could
  // delete the other's set-aside executable): it leaves at once.
  brivon::SingleInstanceGuard instanceGuard(programFolder);
  if (!instanceGuard.held()) return;

  // An update cut off from outside (End task, a logoff, a power cut) is put right before
  // anything else touches the folder, and only while no other instance works in it.
  brivon::RunStartupRepair(programFolder);
  brivon::EnsureArchiveTool(programFolder);
  brivon::RunStartupHousekeeping(programFolder);
  // Only a document this start stored is shown: an old one could run an old update again.
  if (brivon::RunCheckin() == brivon::CheckinResult::DocumentNotStored) return;
  brivon::RunAlertWindows(instance, showCommand);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  try {
    RunStartupSequence(instance, showCommand);
  } catch (...) {
    // Nothing may end the program abnormally; each step logs its own failures.
  }
  return 0;
}
