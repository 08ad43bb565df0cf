// Whether an archive holds a whole folder, proven from 7-Zip's own listing of it: an archiver can
// leave files out and still report success (Windows PowerShell 5.1's Compress-Archive skips
// hidden files), and a folder is deleted only once its archive holds every file of it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace brivon {

// The files of a "7za.exe l -slt -sccUTF-8" listing: path (as stored, "\" between levels) -> size.
// Folders are left out. False when the text is not such a listing.
bool ParseArchiveListing(std::string_view text, std::map<std::wstring, uint64_t>& files);

// The files under folder, at every depth (links to folders not entered): relative path -> size.
std::map<std::wstring, uint64_t> FolderFiles(const std::wstring& folder);

// How many files of the folder the archive lacks, or holds with another size. False when the
// archive could not be listed (7za.exe missing or failing): nothing is proven.
bool CountFilesMissingFromArchive(const std::wstring& programFolder, const std::wstring& archive,
                                  const std::wstring& folder, size_t* missing);

}  // namespace brivon
