// What an archive holds, from 7-Zip's own listing of it: whether it holds a whole folder as it
// stands (an archiver can leave files out and still report success, and a folder is deleted only
// once its archive holds every file of it), and how much it unpacks to.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "sevenzip/child_process.h"

namespace brivon {

// The files of a "7za.exe l -slt -sccUTF-8" listing: path (as stored, "\" between levels) -> size.
// Folders are left out. False when the text is not such a listing.
bool ParseArchiveListing(std::string_view text, std::map<std::wstring, uint64_t>& files);

// The sum of the files' unpacked sizes in such a listing (UINT64_MAX when it overflows). False
// when the text is not such a listing.
bool ParseUnpackedTotal(std::string_view text, uint64_t* total);

// How many of wanted the stored files lack, or hold with another size.
size_t CountMissingFiles(const std::map<std::wstring, uint64_t>& wanted,
                         const std::map<std::wstring, uint64_t>& stored);

// A file as a folder or a listing shows it: its size and its last change, in local time as 100 ns
// units since 1601 (the listing gives local time to the second); 0 when not known.
struct FileStamp {
  uint64_t size = 0;
  int64_t modified = 0;
  bool operator==(const FileStamp& other) const { return size == other.size && modified == other.modified; }
};
using FileStamps = std::map<std::wstring, FileStamp>;

// A listing's time may stand up to this far from the file's own: 7-Zip shows the NTFS time cut to
// the second, and a ZIP's DOS field holds local time rounded up to an even second.
inline constexpr int64_t kStampToleranceUnits = 2 * 10000000LL;

// "YYYY-MM-DD hh:mm:ss[.fraction]" as such units; nothing when it is not such a time.
std::optional<int64_t> ParseListingTime(std::string_view text);

// The same as ParseArchiveListing, each file with its size and its "Modified" time.
bool ParseArchiveStamps(std::string_view text, FileStamps& files);

// Whether the archive's file is the folder's file as it stands: the same size, and a last change
// within the tolerance. A restored file someone edited (a database keeps its size) is not.
bool SameAsArchived(const FileStamp& onDisk, const FileStamp& archived);

// How many of the folder's files the archive lacks, or holds as another file (SameAsArchived).
size_t CountFilesNotArchived(const FileStamps& folder, const FileStamps& archive);

// Whether a folder listing that stopped with error (FindFirstFileW's or FindNextFileW's) saw the
// whole folder: the end of the entries, or no entry at all. Any other error (a share reconnecting:
// 59, 64) leaves files unseen.
bool ListingEndedWhole(unsigned long error, bool first);

// The files under folder, at every depth (links to folders not entered). False when any part of it
// could not be listed (error: why): nothing is then proven of it.
bool ReadFolderStamps(const std::wstring& folder, FileStamps& files, unsigned long* error);

// Lists archive with programFolder\7za.exe into files. False when it could not be listed: code
// then holds 7-Zip's exit code (2 when 7za.exe is missing, the system error when it could not
// start, kChildTimedOutExitCode when it ran past timeoutMs), or 0 when the output was no listing.
bool ListArchiveFiles(const std::wstring& programFolder, const std::wstring& archive,
                      std::map<std::wstring, uint64_t>& files, unsigned long* code,
                      unsigned long timeoutMs = kChildProcessTimeoutMs);
// The same with each file's time. started: whether 7-Zip ran at all (false: missing, or the system
// would not start it; code then holds the system error).
bool ListArchiveStamps(const std::wstring& programFolder, const std::wstring& archive, FileStamps& files,
                       unsigned long* code, unsigned long timeoutMs, bool* started);

// The total unpacked size of archive, from its listing; false (and code) as ListArchiveFiles.
bool ReadUnpackedSize(const std::wstring& programFolder, const std::wstring& archive, uint64_t* total,
                      unsigned long* code, unsigned long timeoutMs = kChildProcessTimeoutMs);

}  // namespace brivon
