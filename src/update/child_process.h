// Hidden child processes (7za.exe, PowerShell) with a bounded wait.
#pragma once

#include <string>

namespace brivon {

// A child that runs longer than this is ended: a hung tool must not block an update for good.
inline constexpr unsigned long kChildProcessTimeoutMs = 10 * 60 * 1000;
// Exit code reported for a child ended at the time limit (distinct from any tool's own codes).
inline constexpr unsigned long kChildTimedOutExitCode = 0xC0DE0001;

// Runs commandLine hidden (no window), waits at most timeoutMs. True when the child ran and its exit
// code was read; a child ended at the limit gives true with kChildTimedOutExitCode, after it is gone.
// When it cannot be started: false, exitCode = the system error.
bool RunHiddenProcess(const std::wstring& commandLine, unsigned long* exitCode,
                      unsigned long timeoutMs = kChildProcessTimeoutMs);
// The same, its standard output and error written into outputPath (made afresh).
bool RunHiddenProcessToFile(const std::wstring& commandLine, const std::wstring& outputPath, unsigned long* exitCode,
                            unsigned long timeoutMs = kChildProcessTimeoutMs);

}  // namespace brivon
