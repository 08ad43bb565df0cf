// At every start: archive the per-update folders that earlier updates left in "\actualizaciones"
// and remove each one once its archive is proven to hold it as it stands.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "archive/zip_archive.h"  // FreshArchiveName
#include "common/folder_tree.h"   // ListSubfolders, DeleteFolderTree

namespace brivon {

// Where a fresh archive goes: its own name when free, otherwise the first free "<stem> (N).zip"
// beside it. An archive already there is never replaced: the folder was found to differ from it (a
// person restored it there and edited a file, or it is the rest of a partly deleted folder), or it
// could not be listed, and it may be the only copy of the earlier state.
enum class ArchivePlacement { Take, Beside };
ArchivePlacement ChooseArchivePlacement(bool earlierExists);
std::wstring BesideArchiveName(const std::wstring& archivePath, unsigned number);  // "<stem> (N).zip"

// The step of a folder's archiving that failed: 7-Zip's writing, the archive taking its name, or
// 7-Zip's listing of the archive.
enum class LeftoverStep { Archive, Place, List };

// What archiving a folder came to. code: 7-Zip's exit code, or the system error when 7-Zip did not
// start (started false) or the archive could not take its name. placedAt: where the archive went
// (the archive's own name or one beside it).
struct LeftoverArchiving {
  bool ok = false;
  LeftoverStep failedAt = LeftoverStep::Archive;
  bool started = false;
  unsigned long code = 0;
  std::wstring placedAt;
};

// Archives folder's contents into archivePath with programFolder\7za.exe: written under a name of
// its own first (FreshArchiveName), then put in place.
LeftoverArchiving ArchiveLeftoverFolder(const std::wstring& programFolder, const std::wstring& folder,
                                        const std::wstring& archivePath, unsigned long timeoutMs);

// One start spends at most this long archiving: the folders left over wait for a later start.
inline constexpr unsigned long kHousekeepingBudgetMs = 3 * 60 * 1000;
// One folder's archiving, and its listing, get at most this long of it.
inline constexpr unsigned long kLeftoverFolderLimitMs = 2 * 60 * 1000;
// A folder that failed this many times by its own fault is no longer tried with the same tool.
inline constexpr int kHousekeepingStrikesBeforeSkip = 3;
// Beside a folder whose archiving failed: "<folder>.intentos", its strikes.
inline constexpr wchar_t kStrikeCountSuffix[] = L".intentos";

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
// cause: then it is tried once more, and a new strike with this tool counts as with the old.
bool ShouldTryLeftover(const StrikeRecord& record, std::string_view tool);

void RunStartupHousekeeping(const std::wstring& programFolder, unsigned long budgetMs = kHousekeepingBudgetMs,
                            unsigned long folderLimitMs = kLeftoverFolderLimitMs);

}  // namespace brivon
