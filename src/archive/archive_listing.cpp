#include "archive/archive_listing.h"

#include <windows.h>

#include <cstdlib>
#include <sstream>

#include "archive/seven_zip_command.h"
#include "common/long_path.h"
#include "common/text.h"
#include "common/unique_handle.h"

namespace brivon {
namespace {

// A listing that runs past this is no listing of an archive the program made or unpacks.
constexpr size_t kListingLimitBytes = 64 * 1024 * 1024;

void AddFiles(const std::wstring& folder, const std::wstring& relative, std::map<std::wstring, uint64_t>& files) {
  WIN32_FIND_DATAW entry;
  UniqueFind listing(::FindFirstFileW((folder + L"\\*").c_str(), &entry));
  if (!listing) return;
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = relative.empty() ? name : relative + L"\\" + name;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) AddFiles(folder + L"\\" + name, path, files);
    } else {
      files[path] = (static_cast<uint64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
    }
  } while (::FindNextFileW(listing.get(), &entry));
}

uint64_t SumSizes(const std::map<std::wstring, uint64_t>& files) {
  uint64_t total = 0;
  for (const auto& [path, size] : files) total = size > UINT64_MAX - total ? UINT64_MAX : total + size;
  return total;
}

}  // namespace

bool ParseArchiveListing(std::string_view text, std::map<std::wstring, uint64_t>& files) {
  files.clear();
  std::istringstream lines{std::string(text)};
  std::string line;
  bool entries = false;  // past the "----------" line that ends the archive's own block
  std::string path;
  uint64_t size = 0;
  bool folder = false;
  bool havePath = false;
  auto flush = [&] {
    if (havePath && !folder) files[Utf8ToWide(path)] = size;
    havePath = folder = false;
    size = 0;
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
      size = std::strtoull(line.c_str() + 7, nullptr, 10);
    } else if (line == "Folder = +" || (line.rfind("Attributes = ", 0) == 0 && line.size() > 13 && line[13] == 'D')) {
      folder = true;
    }
  }
  flush();
  return entries;
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

std::map<std::wstring, uint64_t> FolderFiles(const std::wstring& folder) {
  std::map<std::wstring, uint64_t> files;
  AddFiles(LongPathForm(folder), L"", files);
  return files;
}

bool ListArchiveFiles(const std::wstring& programFolder, const std::wstring& archive,
                      std::map<std::wstring, uint64_t>& files, unsigned long* code, unsigned long timeoutMs) {
  files.clear();
  unsigned long exitCode = 0;
  auto report = [&](bool result) {
    if (code) *code = exitCode;
    return result;
  };
  const std::wstring tool = ArchiveToolPath(programFolder);
  const DWORD attributes = ::GetFileAttributesW(tool.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    exitCode = ERROR_FILE_NOT_FOUND;
    return report(false);
  }
  std::string text;
  bool overflow = false;
  const bool ran = RunHiddenProcessPiped(
      ListCommandLine(tool, archive),
      [&](const char* data, size_t size) {
        if (text.size() + size > kListingLimitBytes) {
          overflow = true;
          return;
        }
        text.append(data, size);
      },
      &exitCode, timeoutMs);
  if (!ran || exitCode != 0) return report(false);
  if (overflow || !ParseArchiveListing(text, files)) {
    files.clear();
    return report(false);
  }
  return report(true);
}

bool ReadUnpackedSize(const std::wstring& programFolder, const std::wstring& archive, uint64_t* total,
                      unsigned long* code, unsigned long timeoutMs) {
  std::map<std::wstring, uint64_t> files;
  const bool listed = ListArchiveFiles(programFolder, archive, files, code, timeoutMs);
  *total = SumSizes(files);
  return listed;
}

bool CountFilesMissingFromArchive(const std::wstring& programFolder, const std::wstring& archive,
                                  const std::wstring& folder, size_t* missing, unsigned long* code,
                                  unsigned long timeoutMs) {
  *missing = 0;
  std::map<std::wstring, uint64_t> stored;
  if (!ListArchiveFiles(programFolder, archive, stored, code, timeoutMs)) return false;
  *missing = CountMissingFiles(FolderFiles(folder), stored);
  return true;
}

}  // namespace brivon
