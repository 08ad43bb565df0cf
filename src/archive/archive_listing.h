// What an archive holds, from 7-Zip's own listing of it: whether it holds a whole folder (an
// archiver can leave files out and still report success, and a folder is deleted only once its
// archive holds every file of it), and how much it unpacks to.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "archive/child_process.h"

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

// The files under folder, at every depth (links to folders not entered): relative path -> size.
std::map<std::wstring, uint64_t> FolderFiles(const std::wstring& folder);

// Lists archive with programFolder\7za.exe into files. False when it could not be listed: code
// then holds 7-Zip's exit code (2 when 7za.exe is missing, the system error when it could not
// start, kChildTimedOutExitCode when it ran past timeoutMs), or 0 when the output was no listing.
bool ListArchiveFiles(const std::wstring& programFolder, const std::wstring& archive,
                      std::map<std::wstring, uint64_t>& files, unsigned long* code,
                      unsigned long timeoutMs = kChildProcessTimeoutMs);

// The total unpacked size of archive, from its listing; false (and code) as ListArchiveFiles.
bool ReadUnpackedSize(const std::wstring& programFolder, const std::wstring& archive, uint64_t* total,
                      unsigned long* code, unsigned long timeoutMs = kChildProcessTimeoutMs);

// How many files of the folder the archive lacks, or holds with another size. False when the
// archive could not be listed (code as ListArchiveFiles): nothing is proven.
bool CountFilesMissingFromArchive(const std::wstring& programFolder, const std::wstring& archive,
                                  const std::wstring& folder, size_t* missing, unsigned long* code = nullptr,
                                  unsigned long timeoutMs = kChildProcessTimeoutMs);

}  // namespace brivon
