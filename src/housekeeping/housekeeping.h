// At every start: archive the per-update folders that earlier updates left in "\actualizaciones"
// and remove each one once its archive is proven to hold it as it stands.
#pragma once

#include <cstdint>
#include <string>

#include "files/folder_tree.h"                  // ListSubfolders, DeleteFolderTreeWithin
#include "housekeeping/housekeeping_strikes.h"  // LeftoverStep, strikes
#include "sevenzip/zip_archive.h"               // FreshArchiveName

namespace brivon {

// Where a fresh archive goes: its own name when free, otherwise the first free "<stem> (N).zip"
// beside it. An archive already there is never replaced: the folder was found to differ from it (a
// person restored it there and edited a file, or it is the rest of a partly deleted folder), or it
// could not be listed, and it may be the only copy of the earlier state.
enum class ArchivePlacement { Take, Beside };
ArchivePlacement ChooseArchivePlacement(bool earlierExists);
std::wstring BesideArchiveName(const std::wstring& archivePath, unsigned number);  // "<stem> (N).zip"

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
// its own first (FreshArchiveName), then put in place. Where a name is taken the next one beside
// is tried; any other error ends the search, with a line in the downloads log.
LeftoverArchiving ArchiveLeftoverFolder(const std::wstring& programFolder, const std::wstring& folder,
                                        const std::wstring& archivePath, unsigned long timeoutMs);

// One start spends at most this long archiving: the folders left over wait for a later start.
inline constexpr unsigned long kHousekeepingBudgetMs = 3 * 60 * 1000;
// One folder's archiving, and its listing, get at most this long of it.
inline constexpr unsigned long kLeftoverFolderLimitMs = 2 * 60 * 1000;
// Beside a folder whose archiving failed: "<folder>.intentos", its strikes.
inline constexpr wchar_t kStrikeCountSuffix[] = L".intentos";

void RunStartupHousekeeping(const std::wstring& programFolder, unsigned long budgetMs = kHousekeepingBudgetMs,
                            unsigned long folderLimitMs = kLeftoverFolderLimitMs);

}  // namespace brivon
