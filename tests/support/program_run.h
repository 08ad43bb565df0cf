// Runs a real program under test and answers its message boxes as a person would.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "common/unique_handle.h"

namespace brivon::testing {

struct SeenMessageBox {
  std::wstring title;
  std::wstring text;
};

struct ProgramRun {
  bool started = false;
  DWORD startError = 0;   // why it did not start, when it did not
  bool timedOut = false;  // the program was killed at the time limit
  DWORD exitCode = STILL_ACTIVE;
  std::vector<SeenMessageBox> boxes;  // in the order they appeared; each dismissed with OK
};

struct RunOptions {
  std::wstring workingFolder;  // empty: the program's own folder
  DWORD timeoutMs = 60000;
  WORD showCommand = SW_SHOWDEFAULT;  // the show command the program is started with
  // Called every poll while the program runs (for tests that drive windows); may be empty.
  std::function<void(DWORD processId)> whileRunning;
  // How often the run is looked at: a bench that times a window's appearance polls finely.
  DWORD pollMs = 50;
};

ProgramRun RunProgram(const std::wstring& exePath, const RunOptions& options = {});

// A program the tests keep running beside brivon.exe (a stand-in scanner, the business program);
// ended, and waited for, when the object goes.
class BackgroundProgram {
 public:
  BackgroundProgram(const std::wstring& exePath, const std::wstring& arguments);
  ~BackgroundProgram();
  BackgroundProgram(const BackgroundProgram&) = delete;
  BackgroundProgram& operator=(const BackgroundProgram&) = delete;
  bool running() const;

 private:
  HANDLE process_ = nullptr;
};

// Starts a command line with no window and returns its process (empty when it could not start).
UniqueHandle StartHidden(std::wstring commandLine);
// Runs a command line with no window to its end; its exit code (0xFFFFFFFF when it could not start).
DWORD RunToEnd(std::wstring commandLine, DWORD timeoutMs = 120000);
// Runs a command line with no window, its output and errors gathered; false when it cannot start or
// ends non-zero. exitCode, when given, gets its exit code (0xFFFFFFFF when it could not start).
bool RunCapturing(std::wstring commandLine, std::string* output, DWORD* exitCode = nullptr);

// Top-level dialog boxes ("#32770") of a process: those visible now, or all of them.
std::vector<HWND> FindMessageBoxes(DWORD processId, bool shownOnly = true);
SeenMessageBox ReadMessageBox(HWND box);

}  // namespace brivon::testing
