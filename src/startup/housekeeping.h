// At every start: archive the per-update folders that earlier updates left in "\actualizaciones"
// and remove each one once its archive is safely in place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "update/file_moves.h"  // ListSubfolders, DeleteFolderTree

namespace brivon {


// Where a fresh archive goes, given the archive of that name already there (if any).
// An earlier archive is only replaced by one at least as large: a folder that was archived
// but only partly deleted must not have its complete archive replaced by one of the rest.
// Otherwise the first free "<name> (N).zip" beside it.
enum class ArchivePlacement { Take, Replace, Beside };
ArchivePlacement ChooseArchivePlacement(bool earlierExists, uint64_t earlierSize, uint64_t freshSize);
std::wstring BesideArchiveName(const std::wstring& archivePath, unsigned number);  // "<stem> (N).zip"
std::wstring FreshArchiveName(const std::wstring& archivePath);                    // "<stem>.nuevo.zip"

// Archives folder's contents into archivePath by PowerShell: written under a name of its own first,
// checked (present, not empty), then put in place. True only when an archive of the folder is in
// place. code: the process's exit code, or the system error when it could not start.
// placedAt: where the archive went (archivePath or a name beside it).
bool ArchiveLeftoverFolder(const std::wstring& folder, const std::wstring& archivePath, unsigned long* code,
                           unsigned long timeoutMs, std::wstring* placedAt = nullptr);
bool ArchiveLeftoverFolder(const std::wstring& folder, const std::wstring& archivePath, unsigned long* code);


// One start spends at most this long archiving: the folders left over wait for a later start.
inline constexpr unsigned long kHousekeepingBudgetMs = 3 * 60 * 1000;
// A folder whose archiving timed out this many times is no longer tried.
inline constexpr int kHousekeepingTimeoutsBeforeSkip = 3;
// Beside a folder whose archiving timed out: "<folder>.intentos", the number of timeouts.
inline constexpr wchar_t kTimeoutCountSuffix[] = L".intentos";

void RunStartupHousekeeping(const std::wstring& programFolder, unsigned long budgetMs = kHousekeepingBudgetMs);

}  // namespace brivon
