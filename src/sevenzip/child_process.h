// Hidden child processes (7za.exe) with a bounded wait.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace brivon {

// A child that runs longer than this is ended: a hung tool must not block an update for good.
inline constexpr unsigned long kChildProcessTimeoutMs = 10 * 60 * 1000;
// Exit code reported for a child ended at the time limit (distinct from any tool's own codes).
inline constexpr unsigned long kChildTimedOutExitCode = 0xC0DE0001;

// Runs commandLine hidden (no window), waits at most timeoutMs. True when the child ran and its exit
// code was read; a child ended at the limit gives true with kChildTimedOutExitCode, after it is gone.
// When it cannot be started: false, exitCode = the system error. Wine's CreateProcessW now and then
// fails with ERROR_INTERNAL_ERROR before the child exists: that start is made once more, and with a
// programFolder the retry is logged in its extracciones.csv (PROCESO_REINTENTADO).
bool RunHiddenProcess(const std::wstring& commandLine, unsigned long* exitCode,
                      unsigned long timeoutMs = kChildProcessTimeoutMs, const std::wstring& programFolder = {});
// The same, its standard output and error written into outputPath (made afresh).
bool RunHiddenProcessToFile(const std::wstring& commandLine, const std::wstring& outputPath, unsigned long* exitCode,
                            unsigned long timeoutMs = kChildProcessTimeoutMs, const std::wstring& programFolder = {});

// Receives the child's output as it arrives, in pieces split anywhere (not terminated).
using ChildOutputSink = std::function<void(const char* data, size_t size)>;
// The same, its standard output and error read through a pipe while it runs and handed to onOutput
// on the calling thread; the child gets no standard input. Output the child writes before it ends is
// all delivered before this returns. An exception from onOutput ends the child and passes through.
bool RunHiddenProcessPiped(const std::wstring& commandLine, const ChildOutputSink& onOutput, unsigned long* exitCode,
                           unsigned long timeoutMs = kChildProcessTimeoutMs, const std::wstring& programFolder = {});

}  // namespace brivon
