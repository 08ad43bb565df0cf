#include "update/child_process.h"

#include <windows.h>

#include <vector>

#include "common/unique_handle.h"

namespace brivon {
namespace {

// After ending a child, how long to wait for the system to let it go. Termination is immediate
// in practice; the bound only keeps a wedged kernel object from hanging the caller instead.
constexpr DWORD kTerminationWaitMs = 30 * 1000;

// A job holds the child and whatever it starts itself (PowerShell or a stand-in may start
// helpers), so ending it at the limit ends all of them and no helper keeps files open.
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

}  // namespace

static bool RunHidden(const std::wstring& commandLine, HANDLE output, unsigned long* exitCode, unsigned long timeoutMs) {
  if (exitCode) *exitCode = 0;

  // CreateProcessW may write into the command line: hand it a private, terminated copy.
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  if (output) {
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
  }
  PROCESS_INFORMATION info = {};

  UniqueHandle job = CreateKillOnCloseJob();
  DWORD flags = CREATE_NO_WINDOW | (job ? CREATE_SUSPENDED : 0);
  const BOOL inherit = output ? TRUE : FALSE;  // only the output handle is inheritable
  if (!::CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, inherit, flags, nullptr, nullptr, &startup, &info)) {
    DWORD error = ::GetLastError();
    if (exitCode) *exitCode = error;
    return false;
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);

  if (job) {
    // Without the job (already inside one that forbids nesting) the child alone is ended at the limit.
    if (!::AssignProcessToJobObject(job.get(), process.get())) job.reset();
    ::ResumeThread(thread.get());
  }

  DWORD waited = ::WaitForSingleObject(process.get(), timeoutMs);
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

bool RunHiddenProcess(const std::wstring& commandLine, unsigned long* exitCode, unsigned long timeoutMs) {
  return RunHidden(commandLine, nullptr, exitCode, timeoutMs);
}

bool RunHiddenProcessToFile(const std::wstring& commandLine, const std::wstring& outputPath, unsigned long* exitCode,
                            unsigned long timeoutMs) {
  SECURITY_ATTRIBUTES inherited{sizeof(inherited), nullptr, TRUE};
  UniqueFile output(::CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!output) {
    if (exitCode) *exitCode = ::GetLastError();
    return false;
  }
  return RunHidden(commandLine, output.get(), exitCode, timeoutMs);
}

}  // namespace brivon
