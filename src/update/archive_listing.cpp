#include "update/archive_listing.h"

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "common/text.h"
#include "common/unique_handle.h"
#include "update/child_process.h"
#include "update/extraction.h"

namespace brivon {
namespace {

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

std::map<std::wstring, uint64_t> FolderFiles(const std::wstring& folder) {
  std::map<std::wstring, uint64_t> files;
  AddFiles(folder, L"", files);
  return files;
}

bool CountFilesMissingFromArchive(const std::wstring& programFolder, const std::wstring& archive,
                                  const std::wstring& folder, size_t* missing) {
  *missing = 0;
  const std::wstring output = archive + L".lista";
  const std::wstring tool = programFolder + L"\\" + kArchiveToolName;
  unsigned long code = 0;
  const bool ran = RunHiddenProcessToFile(L"\"" + tool + L"\" l -slt -sccUTF-8 \"" + archive + L"\"", output, &code);
  std::string text;
  {
    std::ifstream in(std::filesystem::path(output), std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  ::DeleteFileW(output.c_str());
  std::map<std::wstring, uint64_t> stored;
  if (!ran || code != 0 || !ParseArchiveListing(text, stored)) return false;
  for (const auto& [path, size] : FolderFiles(folder)) {
    auto found = stored.find(path);
    if (found == stored.end() || found->second != size) ++*missing;
  }
  return true;
}

}  // namespace brivon
