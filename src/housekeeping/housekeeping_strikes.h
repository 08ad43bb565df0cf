// Which failures of a leftover folder's archiving are strikes against it, and when a struck folder
// is tried again: decisions over values, apart from the walk that meets them.
#pragma once

#include <string>
#include <string_view>

namespace brivon {

// The step of a folder's archiving that failed: 7-Zip's writing, the archive taking its name, or
// 7-Zip's listing of the archive.
enum class LeftoverStep { Archive, Place, List };

// A folder that failed this many times by its own fault is no longer tried with the same tool.
inline constexpr int kHousekeepingStrikesBeforeSkip = 3;

// What a failed step was. Only the folder's own faults are strikes: 7-Zip's error on its files
// (exit code 1 or 2), its own time limit run out, an archive of it that cannot take its name. Not
// the tool's (it did not start: missing, another processor's, blocked; or it ended with a code that
// is not 7-Zip's: a crash, a damaged tool), nor the drive's (below the margin after the failure, or
// a full disk's error), nor the start's budget (it ran out before the folder's own limit).
enum class LeftoverFailure { CutByBudget, TimedOut, Failed, ToolNotStarted, ToolFault, DriveFull };
LeftoverFailure ClassifyLeftoverFailure(LeftoverStep step, bool started, unsigned long code, unsigned long givenMs,
                                        unsigned long folderLimitMs, bool driveBelowMargin);
bool IsStrike(LeftoverFailure failure);

// "<folder>.intentos" holds "<strikes>;7za=<SHA-256 of the tool they were met with>". An older file
// holds the number alone: its strikes count as met with another tool.
struct StrikeRecord {
  int count = 0;
  std::string tool;  // lower-case hex; empty when not known
};
StrikeRecord ParseStrikeRecord(std::string_view text);
std::string StrikeRecordText(const StrikeRecord& record);

// Whether the folder is tried at this start, with the tool whose identity is tool (empty: it could
// not be read): below the strikes' limit, or struck with another tool, which may have been the
// cause: then it is tried once more, and a new strike adds to the old ones, now with this tool.
bool ShouldTryLeftover(const StrikeRecord& record, std::string_view tool);

}  // namespace brivon
