// A file another process holds for a moment (an on-access virus scanner opening every new file, a
// backup agent, the search indexer) frees up soon. Every file operation of an update, the repair
// and the housekeeping that meets a sharing violation or an access refusal is tried again, with
// growing pauses, for a bounded time; only then does it count as failed.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace brivon {

// How long a held file is waited for, in all.
inline constexpr unsigned long kFileWaitLimitMs = 10000;

// Errors that a file held by someone else gives, and that pass when it is let go.
bool IsWaitableFileError(DWORD error);

// The pause before attempt number `attempt` (1 for the first retry), given the time already spent
// waiting; 0 when the operation has failed for good (an error waiting does not cure, or the limit).
unsigned long NextFilePause(DWORD error, int attempt, unsigned long waitedMs,
                            unsigned long limitMs = kFileWaitLimitMs);

// What holds a file, told by what an open for writing and an open for deletion (with every
// sharing) answer. A running program's image can be renamed but never written, and stays so for
// as long as the program runs: no wait clears it. Any other holder refusing a write open (a
// scanner or backup agent reading without write sharing) refuses deletion too, and lets go soon.
// 0 stands for an open that succeeded.
enum class FileHold { Free, Passing, RunningImage };
FileHold ClassifyFileHold(DWORD writeOpenError, DWORD deleteOpenError);
// The same, looked up on the file itself.
FileHold FileHoldOf(const std::wstring& path);

// Time and sleep, replaceable by a test's clock.
struct WaitClock {
  std::function<uint64_t()> nowMs;
  std::function<void(unsigned long)> sleepMs;
};
const WaitClock& SystemWaitClock();

// Runs `operation` (true on success, GetLastError() set on failure) until it succeeds or waiting
// no longer helps. On false GetLastError() holds the last failure's error.
bool WithFileWaits(const std::function<bool()>& operation, const WaitClock& clock = SystemWaitClock());
// As WithFileWaits, but fails at once, the error kept, when willNotClear(error) tells that the
// holder will not let go (a running program). limitMs bounds the wait below kFileWaitLimitMs, for
// a caller with a time budget of its own (0: tried once, no wait).
bool WithFileWaitsUnless(const std::function<bool()>& operation, const std::function<bool(DWORD)>& willNotClear,
                         const WaitClock& clock = SystemWaitClock(), unsigned long limitMs = kFileWaitLimitMs);

// The plain operations, each with the waits above (limitMs as for WithFileWaitsUnless). None waits
// for a running program: its image is never deleted nor replaced while it runs (it can be renamed).
bool MoveFileWaiting(const std::wstring& from, const std::wstring& to, DWORD flags);
bool DeleteFileWaiting(const std::wstring& path, unsigned long limitMs = kFileWaitLimitMs);
bool RemoveFolderWaiting(const std::wstring& path, unsigned long limitMs = kFileWaitLimitMs);
bool SetAttributesWaiting(const std::wstring& path, DWORD attributes, unsigned long limitMs = kFileWaitLimitMs);
// Waits until no one else holds path in a way that stops a rename (a scanner shares reading and
// writing, not deletion). False when it is still held at the limit, or is not there.
bool WaitUntilMovable(const std::wstring& path);

}  // namespace brivon
