#include "support/program_run.h"

#include <algorithm>
#include <set>

#include "common/unique_handle.h"

namespace brivon::testing {
namespace {

std::wstring WindowText(HWND window) {
  int length = ::GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  int got = ::GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<size_t>(std::max(got, 0)));
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  return name;
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/")); }

struct BoxSearch {
  DWORD processId;
  bool shownOnly;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectBox(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<BoxSearch*>(param);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner == search->processId && (!search->shownOnly || ::IsWindowVisible(window)) &&
      ClassOf(window) == L"#32770") {
    search->found.push_back(window);
  }
  return TRUE;
}

// The message is the static control with text (the icon is a static without any).
BOOL CALLBACK LongestStaticText(HWND child, LPARAM param) {
  auto* text = reinterpret_cast<std::wstring*>(param);
  if (ClassOf(child) == L"Static") {
    std::wstring candidate = WindowText(child);
    if (candidate.size() > text->size()) *text = candidate;
  }
  return TRUE;
}

// A start with no standard handles, as a program started from the desktop has. Otherwise Wine
// hands a child the test's own: the pipe the test runner reads, which a child of the child (one
// Wine failed to start, or one still running) has been seen to hold open after the test ended,
// and the runner then waited for good.
STARTUPINFOW StartupWithoutStdHandles() {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  return startup;
}

}  // namespace

std::vector<HWND> FindMessageBoxes(DWORD processId, bool shownOnly) {
  BoxSearch search{processId, shownOnly, {}};
  ::EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

SeenMessageBox ReadMessageBox(HWND box) {
  SeenMessageBox seen{WindowText(box), {}};
  ::EnumChildWindows(box, LongestStaticText, reinterpret_cast<LPARAM>(&seen.text));
  return seen;
}

ProgramRun RunProgram(const std::wstring& exePath, const RunOptions& options) {
  ProgramRun run;
  std::wstring commandLine = L"\"" + exePath + L"\"";
  std::wstring folder = options.workingFolder.empty() ? FolderOf(exePath) : options.workingFolder;
  STARTUPINFOW startup = StartupWithoutStdHandles();
  if (options.showCommand != SW_SHOWDEFAULT) {
    startup.dwFlags |= STARTF_USESHOWWINDOW;
    startup.wShowWindow = options.showCommand;
  }
  PROCESS_INFORMATION info{};
  // Under the full suite's load Wine has been seen to refuse a start once; a second try a moment
  // later starts it.
  for (int attempt = 0;; ++attempt) {
    if (::CreateProcessW(exePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                         &startup, &info)) {
      break;
    }
    run.startError = ::GetLastError();
    if (attempt == 2) return run;
    ::Sleep(200);
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  run.started = true;

  std::set<HWND> answered;
  DWORD waited = 0;
  const DWORD slice = options.pollMs > 0 ? options.pollMs : 1;
  for (;;) {
    // Only the process's end ends the watch: a wait that fails (Wine has been seen to return
    // early once) is not taken for it.
    const DWORD wait = ::WaitForSingleObject(process.get(), slice);
    if (wait == WAIT_OBJECT_0) break;
    if (wait != WAIT_TIMEOUT) ::Sleep(slice);
    waited += slice;
    for (HWND box : FindMessageBoxes(info.dwProcessId)) {
      if (answered.count(box)) continue;
      run.boxes.push_back(ReadMessageBox(box));
      answered.insert(box);
      ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
    if (options.whileRunning) options.whileRunning(info.dwProcessId);
    if (waited >= options.timeoutMs) {
      run.timedOut = true;
      ::TerminateProcess(process.get(), 0xDEAD);
      ::WaitForSingleObject(process.get(), 5000);
      break;
    }
  }
  ::GetExitCodeProcess(process.get(), &run.exitCode);
  // Under load Wine has been seen to signal a process's end before its exit code is set
  // (STILL_ACTIVE, 259): the code is read again for a moment.
  for (int attempt = 0; run.exitCode == STILL_ACTIVE && !run.timedOut && attempt < 100; ++attempt) {
    ::Sleep(20);
    ::GetExitCodeProcess(process.get(), &run.exitCode);
  }
  return run;
}

BackgroundProgram::BackgroundProgram(const std::wstring& exePath, const std::wstring& arguments) {
  std::wstring line = L"\"" + exePath + L"\" " + arguments;
  STARTUPINFOW startup = StartupWithoutStdHandles();
  PROCESS_INFORMATION info{};
  if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    ::CloseHandle(info.hThread);
    process_ = info.hProcess;
  }
}

BackgroundProgram::~BackgroundProgram() {
  if (!process_) return;
  ::TerminateProcess(process_, 0);
  ::WaitForSingleObject(process_, 10000);
  ::CloseHandle(process_);
}

bool BackgroundProgram::running() const { return process_ && ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

UniqueHandle StartHidden(std::wstring commandLine) {
  STARTUPINFOW startup = StartupWithoutStdHandles();
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info)) {
    return UniqueHandle();
  }
  ::CloseHandle(info.hThread);
  return UniqueHandle(info.hProcess);
}

DWORD RunToEnd(std::wstring commandLine, DWORD timeoutMs) {
  UniqueHandle process = StartHidden(std::move(commandLine));
  if (!process) return 0xFFFFFFFF;
  ::WaitForSingleObject(process.get(), timeoutMs);
  DWORD code = 0xFFFFFFFF;
  ::GetExitCodeProcess(process.get(), &code);
  return code;
}

bool RunCapturing(std::wstring commandLine, std::string* output, DWORD* exitCode) {
  if (exitCode) *exitCode = 0xFFFFFFFF;
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  HANDLE readRaw = nullptr, writeRaw = nullptr;
  if (!::CreatePipe(&readRaw, &writeRaw, &inheritable, 0)) return false;
  UniqueHandle readEnd(readRaw), writeEnd(writeRaw);
  ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd.get();
  startup.hStdError = writeEnd.get();
  startup.hStdInput = nullptr;
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info)) {
    return false;
  }
  UniqueHandle process(info.hProcess), thread(info.hThread);
  writeEnd.reset();
  // Read while it runs, and what is left once it has ended: a process it started (Wine's own
  // services, the first time) may hold the pipe open for good, so its end is never waited for.
  const ULONGLONG until = ::GetTickCount64() + 120000;
  const auto drain = [&] {
    char chunk[4096];
    DWORD available = 0, read = 0;
    while (::PeekNamedPipe(readEnd.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
           ::ReadFile(readEnd.get(), chunk, available < sizeof(chunk) ? available : sizeof(chunk), &read, nullptr) &&
           read > 0) {
      output->append(chunk, read);
    }
  };
  for (;;) {
    drain();
    if (::WaitForSingleObject(process.get(), 10) == WAIT_OBJECT_0) break;
    if (::GetTickCount64() > until) {
      ::TerminateProcess(process.get(), 0xDEAD);
      ::WaitForSingleObject(process.get(), 5000);
      break;
    }
  }
  drain();
  DWORD code = 1;
  const bool known = ::GetExitCodeProcess(process.get(), &code) != FALSE;
  if (known && exitCode) *exitCode = code;
  return known && code == 0;
}

}  // namespace brivon::testing
