// Room on the program's drive. An update never fills it: a step that would leave less than the
// margin free is refused before it starts, and a package that unpacks to far more than its own
// size (a ZIP bomb, or a package no update needs) is refused outright.
#pragma once

#include <cstdint>
#include <string>

namespace brivon {

// Left free after any step of an update: room for the database engine to grow its files and for
// Windows' own paging and temporary files, so the business program keeps working. A small drive
// keeps half of what it had free before the step, never less than the least margin: a fixed
// 256 MiB would refuse every update on a drive with less than that free, for good.
inline constexpr uint64_t kFreeSpaceMarginBytes = 256ull * 1024 * 1024;
inline constexpr uint64_t kLeastFreeSpaceMarginBytes = 32ull * 1024 * 1024;
// A package unpacks to at most this many times its own size. Programs and data pack 2 to 20
// times; anything past 100 is a bomb.
inline constexpr uint64_t kMaxExpansionRatio = 100;

// A download reads the free space again after at most this many bytes: often enough that the
// database's own growth meanwhile is seen, rarely enough to cost nothing beside the writes.
inline constexpr uint64_t kFreeSpaceCheckBytes = 8ull * 1024 * 1024;

// True when a step needing neededBytes leaves at least margin of freeBytes free.
bool LeavesEnoughSpace(uint64_t freeBytes, uint64_t neededBytes, uint64_t margin = kFreeSpaceMarginBytes);

// How many more bytes a download of any length may write before it reads the free space again:
// what still leaves margin free, and at most checkEvery. 0 when the drive is at the margin already.
uint64_t WritableBeforeNextCheck(uint64_t freeBytes, uint64_t margin, uint64_t checkEvery = kFreeSpaceCheckBytes);

// The margin of a step that began with freeBeforeStep free: the smaller of kFreeSpaceMarginBytes and
// half of it, never below kLeastFreeSpaceMarginBytes. Fixed for the whole step.
uint64_t MarginFor(uint64_t freeBeforeStep);
// The margin in force for such a step: MarginFor, or the test build's fixed one (test_hooks.h).
uint64_t FreeSpaceMargin(uint64_t freeBeforeStep);
// The margin in force where the free space is unknown: kFreeSpaceMarginBytes, or the test build's.
uint64_t FreeSpaceMargin();
// The margin in force for a step about to start on the drive that holds path: read once there.
uint64_t FreeSpaceMarginAt(const std::wstring& path);

// True when unpackedBytes is at most ratio times packageBytes.
bool WithinExpansionCap(uint64_t packageBytes, uint64_t unpackedBytes, uint64_t ratio = kMaxExpansionRatio);

// The bytes free to this user (quotas counted) on the drive that holds path (an existing folder or
// file). False when the system cannot tell; GetLastError() says why.
bool ReadFreeBytes(const std::wstring& path, uint64_t* freeBytes);

}  // namespace brivon
