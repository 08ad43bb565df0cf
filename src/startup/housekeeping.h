// At every start: archive the per-update folders that earlier updates left in "\actualizaciones"
// and remove each one once its archive is safely in place.
#pragma once

#include <cstdint>
#include <string>

#include "archive/zip_archive.h"  // FreshArchiveName
#include "common/folder_tree.h"   // ListSubfolders, DeleteFolderTree

namespace brivon {

// Where a fresh archive goes, given the archive of that name already there (if any).
// An earlier archive is only replaced by one at least as large: a folder that was archived
// but only partly deleted must not have its complete archive replaced by one of the rest.
// Otherwise the first free "<name> (N).zip" beside it.
enum class ArchivePlacement { Take, Replace, Beside };
ArchivePlacement ChooseArchivePlacement(bool earlierExists, uint64_t earlierSize, uint64_t freshSize);
std::wstring BesideArchiveName(const std::wstring& archivePath, unsigned number);  // "<stem> (N).zip"

// Archives folder's contents into archivePath with programFolder\7za.exe: written under a name of
// its own first (FreshArchiveName), then put in place. True only when an archive of the folder is
// in place. code: 7-Zip's exit code (as ZipFolderContents gives it). placedAt: where the archive
// went (archivePath or a name beside it).
bool ArchiveLeftoverFolder(const std::wstring& programFolder, const std::wstring& folder,
                           const std::wstring& archivePath, unsigned long* code, unsigned long timeoutMs,
                           std::wstring* placedAt = nullptr);

// One start spends at most this long archiving: the folders left over wait for a later start.
inline constexpr unsigned long kHousekeepingBudgetMs = 3 * 60 * 1000;
// One folder's archiving, and its listing, get at most this long of it.
inline constexpr unsigned long kLeftoverFolderLimitMs = 2 * 60 * 1000;
// A folder whose archiving failed this many times is no longer tried.
inline constexpr int kHousekeepingStrikesBeforeSkip = 3;
// Beside a folder whose archiving failed: "<folder>.intentos", the number of failures.
inline constexpr wchar_t kStrikeCountSuffix[] = L".intentos";

// What a failed archiving or listing of a folder was: ended because the start's budget ran out
// before the folder's own limit (a later start goes on, no strike), ended at the folder's own limit,
// or failed by itself (7-Zip's error, a start refused). givenMs: the limit the child was given.
enum class LeftoverFailure { CutByBudget, TimedOut, Failed };
LeftoverFailure ClassifyLeftoverFailure(unsigned long code, unsigned long givenMs, unsigned long folderLimitMs);

void RunStartupHousekeeping(const std::wstring& programFolder, unsigned long budgetMs = kHousekeepingBudgetMs,
                            unsigned long folderLimitMs = kLeftoverFolderLimitMs);

}  // namespace brivon
