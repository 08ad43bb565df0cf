#include "sevenzip/archive_listing.h"

#include <windows.h>

#include <cstdlib>
#include <sstream>

#include "common/long_path.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "files/file_facts.h"
#include "sevenzip/seven_zip_command.h"

namespace brivon {
namespace {

// A listing that runs past this is no listing of an archive the program made or unpacks.
constexpr size_t kListingLimitBytes = 64 * 1024 * 1024;

// FindFirstFileW's "\\?\" form takes any depth; a listing that stops early is reported, never
// taken for the end of the folder.
bool AddStamps(const std::wstring& folder, const std::wstring& relative, FileStamps& files, unsigned long& error) {
  WIN32_FIND_DATAW entry;
  UniqueFind listing(::FindFirstFileW((folder + L"\\*").c_str(), &entry));
  if (!listing) {
    error = ::GetLastError();
    return ListingEndedWhole(error, true);
  }
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = relative.empty() ? name : relative + L"\\" + name;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
          !AddStamps(folder + L"\\" + name, path, files, error)) {
        return false;
      }
    } else {
      FILETIME local = {};
      FileStamp stamp;
      stamp.size = FileSizeFromHalves(entry.nFileSizeHigh, entry.nFileSizeLow);
      if (::FileTimeToLocalFileTime(&entry.ftLastWriteTime, &local)) {
        stamp.modified = static_cast<int64_t>((static_cast<uint64_t>(local.dwHighDateTime) << 32) | local.dwLowDateTime);
      }
      files[path] = stamp;
    }
  } while (::FindNextFileW(listing.get(), &entry));
  error = ::GetLastError();
  return ListingEndedWhole(error, false);
}

// Days from 1601-01-01 to the given day of the proleptic Gregorian calendar.
int64_t DaysSince1601(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468 + 134774;  // 1970-01-01, then back to 1601
}

bool ReadDigits(std::string_view text, size_t at, size_t count, unsigned& value) {
  if (at + count > text.size()) return false;
  value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  return true;
}

uint64_t SumSizes(const std::map<std::wstring, uint64_t>& files) {
  uint64_t total = 0;
  for (const auto& [path, size] : files) total = size > UINT64_MAX - total ? UINT64_MAX : total + size;
  return total;
}

}  // namespace

std::optional<int64_t> ParseListingTime(std::string_view text) {
  unsigned year, month, day, hour, minute, second;
  if (text.size() < 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' ||
      text[16] != ':' || !ReadDigits(text, 0, 4, year) || !ReadDigits(text, 5, 2, month) ||
      !ReadDigits(text, 8, 2, day) || !ReadDigits(text, 11, 2, hour) || !ReadDigits(text, 14, 2, minute) ||
      !ReadDigits(text, 17, 2, second) || year < 1601 || month < 1 || month > 12 || day < 1 || day > 31 ||
      hour > 23 || minute > 59 || second > 59) {
    return std::nullopt;
  }
  int64_t units = ((DaysSince1601(year, month, day) * 24 + hour) * 60 + minute) * 60 + second;
  units *= 10000000;
  if (text.size() > 19) {  // a fraction of a second, up to 100 ns
    if (text[19] != '.' || text.size() == 20) return std::nullopt;
    int64_t scale = 1000000;
    for (size_t i = 20; i < text.size(); ++i) {
      if (text[i] < '0' || text[i] > '9') return std::nullopt;
      units += (text[i] - '0') * scale;
      scale /= 10;
    }
  }
  return units;
}

bool ParseArchiveStamps(std::string_view text, FileStamps& files) {
  files.clear();
  std::istringstream lines{std::string(text)};
  std::string line;
  bool entries = false;  // past the "----------" line that ends the archive's own block
  std::string path;
  FileStamp stamp;
  bool folder = false;
  bool havePath = false;
  auto flush = [&] {
    if (havePath && !folder) files[Utf8ToWide(path)] = stamp;
    havePath = folder = false;
    stamp = FileStamp{};
  };
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!entries) {
      entries = line == "----------";
      continue;
    }
    if (line.empty()) {
      flush();
    } else if (line.rfind("Path = ", 0) == 0) {
      flush();
      path = line.substr(7);
      havePath = true;
    } else if (line.rfind("Size = ", 0) == 0) {
      stamp.size = std::strtoull(line.c_str() + 7, nullptr, 10);
    } else if (line.rfind("Modified = ", 0) == 0) {
      stamp.modified = ParseListingTime(std::string_view(line).substr(11)).value_or(0);
    } else if (line == "Folder = +" || (line.rfind("Attributes = ", 0) == 0 && line.size() > 13 && line[13] == 'D')) {
      folder = true;
    }
  }
  flush();
  return entries;
}

bool ParseArchiveListing(std::string_view text, std::map<std::wstring, uint64_t>& files) {
  FileStamps stamps;
  const bool parsed = ParseArchiveStamps(text, stamps);
  files.clear();
  for (const auto& [path, stamp] : stamps) files[path] = stamp.size;
  return parsed;
}

bool ParseUnpackedTotal(std::string_view text, uint64_t* total) {
  std::map<std::wstring, uint64_t> files;
  const bool parsed = ParseArchiveListing(text, files);
  *total = SumSizes(files);
  return parsed;
}

size_t CountMissingFiles(const std::map<std::wstring, uint64_t>& wanted,
                         const std::map<std::wstring, uint64_t>& stored) {
  size_t missing = 0;
  for (const auto& [path, size] : wanted) {
    auto found = stored.find(path);
    if (found == stored.end() || found->second != size) ++missing;
  }
  return missing;
}

bool SameAsArchived(const FileStamp& onDisk, const FileStamp& archived) {
  if (onDisk.size != archived.size || onDisk.modified == 0 || archived.modified == 0) return false;
  const int64_t apart = onDisk.modified > archived.modified ? onDisk.modified - archived.modified
                                                            : archived.modified - onDisk.modified;
  return apart <= kStampToleranceUnits;
}

size_t CountFilesNotArchived(const FileStamps& folder, const FileStamps& archive) {
  size_t missing = 0;
  for (const auto& [path, stamp] : folder) {
    auto found = archive.find(path);
    if (found == archive.end() || !SameAsArchived(stamp, found->second)) ++missing;
  }
  return missing;
}

bool ListingEndedWhole(unsigned long error, bool first) {
  return error == ERROR_NO_MORE_FILES || (first && error == ERROR_FILE_NOT_FOUND);
}

bool ReadFolderStamps(const std::wstring& folder, FileStamps& files, unsigned long* error) {
  files.clear();
  unsigned long failure = ERROR_SUCCESS;
  const bool whole = AddStamps(LongPathForm(folder), L"", files, failure);
  if (error) *error = whole ? ERROR_SUCCESS : failure;
  if (!whole) files.clear();
  return whole;
}

bool ListArchiveStamps(const std::wstring& programFolder, const std::wstring& archive, FileStamps& files,
                       unsigned long* code, unsigned long timeoutMs, bool* started) {
  files.clear();
  unsigned long exitCode = 0;
  bool ran = false;
  auto report = [&](bool result) {
    if (code) *code = exitCode;
    if (started) *started = ran;
    return result;
  };
  const std::wstring tool = ArchiveToolPath(programFolder);
  if (!IsExistingFile(tool)) {
    exitCode = ERROR_FILE_NOT_FOUND;
    return report(false);
  }
  std::string text;
  bool overflow = false;
  ran = RunHiddenProcessPiped(
      ListCommandLine(tool, archive),
      [&](const char* data, size_t size) {
        if (text.size() + size > kListingLimitBytes) {
          overflow = true;
          return;
        }
        text.append(data, size);
      },
      &exitCode, timeoutMs, programFolder);
  if (!ran || exitCode != 0) return report(false);
  if (overflow || !ParseArchiveStamps(text, files)) {
    files.clear();
    return report(false);
  }
  return report(true);
}

bool ListArchiveFiles(const std::wstring& programFolder, const std::wstring& archive,
                      std::map<std::wstring, uint64_t>& files, unsigned long* code, unsigned long timeoutMs) {
  FileStamps stamps;
  const bool listed = ListArchiveStamps(programFolder, archive, stamps, code, timeoutMs, nullptr);
  files.clear();
  for (const auto& [path, stamp] : stamps) files[path] = stamp.size;
  return listed;
}

bool ReadUnpackedSize(const std::wstring& programFolder, const std::wstring& archive, uint64_t* total,
                      unsigned long* code, unsigned long timeoutMs) {
  std::map<std::wstring, uint64_t> files;
  const bool listed = ListArchiveFiles(programFolder, archive, files, code, timeoutMs);
  *total = SumSizes(files);
  return listed;
}

}  // namespace brivon
