// The record of the update in progress, kept in the log folder so that a run cut off from outside
// (End task, a logoff, a power cut) can be put right at the next start. Written and flushed
// before the run's first change to the program folder, updated at the steps a repair must know
// of, removed after the last.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brivon {

inline constexpr wchar_t kUpdateRecordName[] = L"actualizacion_en_curso.txt";

// Enough of a file to tell it from another: a rename keeps both size and last-write time.
struct FileIdentity {
  bool exists = false;
  uint64_t size = 0;
  uint64_t written = 0;  // FILETIME as one number
  bool operator==(const FileIdentity& o) const {
    return exists == o.exists && size == o.size && written == o.written;
  }
  bool operator!=(const FileIdentity& o) const { return !(*this == o); }
};
FileIdentity IdentityOf(const std::wstring& path);  // a folder counts as absent

struct UpdateRecord {
  std::wstring programFolder;
  std::string packageUrl;        // for the log only
  std::wstring package;          // where the download goes
  FileIdentity packageBefore;    // what stood under that name before the run
  bool isZip = false;
  std::wstring installed;        // the executable being replaced; empty until it is known
  FileIdentity installedBefore;  // the program as it was before the run
  std::wstring setAside;         // <stem>2.exe beside it
  FileIdentity setAsideBefore;   // a leftover already there before the run
  std::wstring extractionFolder;
  bool extractionFolderExisted = false;
  std::wstring keptCopy;         // where the previous version goes in the updates folder, named before it moves
  std::wstring replacedKept;     // where a file of the user's the package replaces goes, named before it moves
  std::string folderId;          // the program folder's volume and file number, whatever path reached it
  // The new program, known before it takes the program's name: only a file of this content is
  // the new program whole (a power cut after the rename leaves the right size and a zeroed tail).
  FileIdentity newProgram;
  std::string newProgramSha256;  // 64 lower-case hex digits
  // Only what the run made is ever deleted: the ZIP package as it was before it took its name,
  // and the extraction folder once the run made it, before 7-Zip ran.
  FileIdentity packageDownloaded;
  bool extractionStarted = false;
};

// "key=value" lines between a header and an end line; paths in UTF-8.
std::string FormatUpdateRecord(const UpdateRecord& record);
// False for anything but a whole record of this format: no header, an unknown or repeated key,
// no end line.
bool ParseUpdateRecord(std::string_view text, UpdateRecord& record);

// The folder's volume serial number and file index as text, empty when it cannot be opened: the
// same for every path that reaches it (letter case, an 8.3 name, a mapped drive, a UNC path).
std::string FolderIdOf(const std::wstring& folder);

// A record written through another path of this same folder (folderId matches), its paths moved
// onto programFolder; false, the record untouched, for anything else.
bool RebaseUpdateRecord(UpdateRecord& record, const std::wstring& programFolder, const std::string& folderId);

// Whether a parsed record can only describe an update of this program folder: every path lies
// where the run would have put it. A record failing this is never acted on.
bool IsRecordOfFolder(const UpdateRecord& record, const std::wstring& programFolder);

std::wstring UpdateRecordPath(const std::wstring& programFolder);
// Written beside, flushed and renamed into place: the record on disk is always whole. The folder's
// identity is added when the record has none yet.
bool WriteUpdateRecord(const UpdateRecord& record);
void RemoveUpdateRecord(const std::wstring& programFolder);

}  // namespace brivon
