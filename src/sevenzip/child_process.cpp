#include "sevenzip/child_process.h"

#include <windows.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "common/activity_log.h"
#include "common/log_line.h"
#include "common/text.h"
#include "common/unique_handle.h"

namespace brivon {
namespace {

// After ending a child, how long to wait for the system to let it go. Termination is immediate
// in practice; the bound only keeps a wedged kernel object from hanging the caller instead.
constexpr DWORD kTerminationWaitMs = 30 * 1000;
// Before the one more start after Wine's ERROR_INTERNAL_ERROR.
constexpr DWORD kStartRetryPauseMs = 100;

// A job holds the child and whatever it starts itself (a tool may start helpers), so ending it
// at the limit ends all of them and no helper keeps files open.
UniqueHandle CreateKillOnCloseJob() {
  UniqueHandle job(::CreateJobObjectW(nullptr, nullptr));
  if (!job) return job;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
    job.reset();
  }
  return job;
}

// Waits until no process of the job is left, within the bound.
void WaitForEmptyJob(HANDLE job, DWORD boundMs) {
  DWORD start = ::GetTickCount();
  for (;;) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info = {};
    if (!::QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info, sizeof(info), nullptr)) {
      return;
    }
    if (info.ActiveProcesses == 0) return;
    if (::GetTickCount() - start >= boundMs) return;
    ::Sleep(20);
  }
}

// Pipe size asked for: a burst of output fits while the reader is between two looks.
constexpr DWORD kPipeBufferBytes = 64 * 1024;
// How long the reader waits on a quiet child before looking at the pipe again. Anonymous pipes
// cannot be waited on, so the process handle is waited on in these slices.
constexpr DWORD kPipePollMs = 10;

// The null device, inheritable: the standard handles of a child without a console. Its output is
// dropped, and a read gives the end of input at once.
UniqueFile OpenNullDevice() {
  SECURITY_ATTRIBUTES inherited{sizeof(inherited), nullptr, TRUE};
  return UniqueFile(::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &inherited, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// How RunHidden waits for its child: WAIT_OBJECT_0 once it has ended; anything else (the limit
// passed, or the wait failed) has it ended.
using ChildWait = std::function<DWORD(HANDLE process, DWORD timeoutMs)>;

// Hands on part of what the pipe holds now; false when it holds nothing (or no writer is left).
// Peeking first keeps ReadFile from blocking on a quiet child.
bool ReadAvailable(HANDLE pipe, const ChildOutputSink& sink) {
  DWORD available = 0;
  if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) return false;
  char buffer[4096];
  DWORD got = 0;
  if (!::ReadFile(pipe, buffer, std::min<DWORD>(available, sizeof(buffer)), &got, nullptr) || got == 0) return false;
  if (sink) sink(buffer, got);
  return true;
}

// Waits like WaitForSingleObject, emptying the pipe all the while so the child never stalls on it.
// A child that floods the pipe is still held to the limit.
DWORD WaitReadingPipe(HANDLE process, HANDLE pipe, DWORD timeoutMs, const ChildOutputSink& sink) {
  const DWORD start = ::GetTickCount();
  auto left = [&]() -> DWORD {
    if (timeoutMs == INFINITE) return INFINITE;
    DWORD elapsed = ::GetTickCount() - start;
    return elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
  };
  for (;;) {
    while (ReadAvailable(pipe, sink)) {
      if (left() == 0) return WAIT_TIMEOUT;
    }
    DWORD remaining = left();
    if (remaining == 0) return WAIT_TIMEOUT;
    DWORD waited = ::WaitForSingleObject(process, std::min(remaining, kPipePollMs));
    if (waited == WAIT_OBJECT_0) {
      // All it wrote before ending is in the pipe by now; a helper still writing is not waited for.
      while (left() != 0 && ReadAvailable(pipe, sink)) {
      }
      return WAIT_OBJECT_0;
    }
    if (waited != WAIT_TIMEOUT) return waited;
  }
}

// Starts commandLine hidden, its standard output and error on output when one is given (closed here
// once the child has its copy), and waits for it within timeoutMs, through wait when one is given.
bool RunHidden(const std::wstring& commandLine, UniqueHandle output, unsigned long* exitCode, unsigned long timeoutMs,
               const std::wstring& programFolder, const ChildWait& wait = {}) {
  if (exitCode) *exitCode = 0;

  // CreateProcessW may write into the command line: hand it a private, terminated copy.
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');

  // No console at all, rather than a hidden one: Wine starts a console host for each (a third of a
  // second per 7-Zip run, more on a busy machine), and a console nobody sees would only leave a
  // tool that asks a question waiting until the limit. The standard handles go to output, or to
  // the null device; input ends at once.
  UniqueFile nul = OpenNullDevice();
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = nul.get();
  startup.hStdOutput = output ? output.get() : nul.get();
  startup.hStdError = startup.hStdOutput;
  PROCESS_INFORMATION info = {};

  UniqueHandle job = CreateKillOnCloseJob();
  DWORD flags = DETACHED_PROCESS | (job ? CREATE_SUSPENDED : 0);
  // The program makes handles inheritable only as a child's standard handles.
  BOOL started = ::CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr, &startup, &info);
  DWORD error = started ? 0 : ::GetLastError();
  if (!started && error == ERROR_INTERNAL_ERROR) {
    // The child never started (Wine, now and then): starting it once more is safe.
    if (!programFolder.empty()) {
      AppendActivityLog(programFolder, kExtractionsLog, LogLine("PROCESO_REINTENTADO").Field(commandLine).Err(error));
    }
    ::Sleep(kStartRetryPauseMs);
    buffer.assign(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    started = ::CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr, &startup, &info);
    error = started ? 0 : ::GetLastError();
  }
  if (!started) {
    if (exitCode) *exitCode = error;
    return false;
  }
  // The child has its own copies; a pipe's reader sees the end only once no writer is left here.
  output.reset();
  nul.reset();
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);

  if (job) {
    // Without the job (already inside one that forbids nesting) the child alone is ended at the limit.
    if (!::AssignProcessToJobObject(job.get(), process.get())) job.reset();
    ::ResumeThread(thread.get());
  }

  DWORD waited = wait ? wait(process.get(), timeoutMs) : ::WaitForSingleObject(process.get(), timeoutMs);
  if (waited != WAIT_OBJECT_0) {
    // Hung (or the wait itself failed): end it and wait until it is gone, so the caller can
    // touch the files it held.
    if (job) {
      ::TerminateJobObject(job.get(), kChildTimedOutExitCode);
    } else {
      ::TerminateProcess(process.get(), kChildTimedOutExitCode);
    }
    ::WaitForSingleObject(process.get(), kTerminationWaitMs);
    if (job) WaitForEmptyJob(job.get(), kTerminationWaitMs);
    if (exitCode) *exitCode = kChildTimedOutExitCode;
    return true;
  }

  DWORD code = 0;
  if (!::GetExitCodeProcess(process.get(), &code)) {
    DWORD error = ::GetLastError();
    if (exitCode) *exitCode = error;
    return false;
  }
  if (exitCode) *exitCode = code;
  // Helpers the child left running are ended when the job closes; wait for them as well.
  if (job) {
    ::TerminateJobObject(job.get(), code);
    WaitForEmptyJob(job.get(), kTerminationWaitMs);
  }
  return true;
}

}  // namespace

bool RunHiddenProcess(const std::wstring& commandLine, unsigned long* exitCode, unsigned long timeoutMs,
                      const std::wstring& programFolder) {
  return RunHidden(commandLine, UniqueHandle(), exitCode, timeoutMs, programFolder);
}

bool RunHiddenProcessToFile(const std::wstring& commandLine, const std::wstring& outputPath, unsigned long* exitCode,
                            unsigned long timeoutMs, const std::wstring& programFolder) {
  SECURITY_ATTRIBUTES inherited{sizeof(inherited), nullptr, TRUE};
  UniqueFile output(::CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!output) {
    if (exitCode) *exitCode = ::GetLastError();
    return false;
  }
  return RunHidden(commandLine, UniqueHandle(output.release()), exitCode, timeoutMs, programFolder);
}

bool RunHiddenProcessPiped(const std::wstring& commandLine, const ChildOutputSink& onOutput, unsigned long* exitCode,
                           unsigned long timeoutMs, const std::wstring& programFolder) {
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!::CreatePipe(&readEnd, &writeEnd, nullptr, kPipeBufferBytes)) {
    if (exitCode) *exitCode = ::GetLastError();
    return false;
  }
  UniqueHandle reader(readEnd), writer(writeEnd);
  // Only the writing end goes to the child; the reading end stays here alone.
  if (!::SetHandleInformation(writer.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
    if (exitCode) *exitCode = ::GetLastError();
    return false;
  }
  return RunHidden(commandLine, std::move(writer), exitCode, timeoutMs, programFolder, [&](HANDLE process, DWORD limit) {
    return WaitReadingPipe(process, reader.get(), limit, onOutput);
  });
}

}  // namespace brivon
