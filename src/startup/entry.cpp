// The program's entry: one fixed sequence, each step to its end, then exit code 0.
#include <windows.h>

#include "startup/archive_tool.h"
#include "startup/program_folder.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  (void)instance;
  (void)showCommand;
  std::wstring programFolder = brivon::GetProgramFolder();
  // Relative paths (the alert document, the terms record) must meet the program's own folder,
  // whatever folder the program was started from.
  if (!programFolder.empty()) ::SetCurrentDirectoryW(programFolder.c_str());

  brivon::EnsureArchiveTool(programFolder);
  return 0;
}
