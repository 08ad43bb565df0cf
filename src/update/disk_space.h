// Room on the program's drive. An update never fills it: a step that would leave less than the
// margin free is refused before it starts, and a package that unpacks to far more than its own
// size (a ZIP bomb, or a package no update needs) is refused outright.
#pragma once

#include <cstdint>
#include <string>

namespace brivon {

// Left free after any step of an update: room for the database engine to grow its files and for
// Windows' own paging and temporary files, so the business program keeps working.
inline constexpr uint64_t kFreeSpaceMarginBytes = 256ull * 1024 * 1024;
// A package unpacks to at most this many times its own size. Programs and data pack 2 to 20
// times; anything past 100 is a bomb.
inline constexpr uint64_t kMaxExpansionRatio = 100;

// True when a step needing neededBytes leaves at least margin of freeBytes free.
bool LeavesEnoughSpace(uint64_t freeBytes, uint64_t neededBytes, uint64_t margin = kFreeSpaceMarginBytes);

// True when unpackedBytes is at most ratio times packageBytes.
bool WithinExpansionCap(uint64_t packageBytes, uint64_t unpackedBytes, uint64_t ratio = kMaxExpansionRatio);

// The bytes free to this user (quotas counted) on the drive that holds path (an existing folder or
// file). False when the system cannot tell; GetLastError() says why.
bool ReadFreeBytes(const std::wstring& path, uint64_t* freeBytes);

}  // namespace brivon
