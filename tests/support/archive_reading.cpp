#include "support/archive_reading.h"

#include <windows.h>

#include "common/text.h"
#include "support/program_run.h"
#include "support/test_env.h"

namespace brivon::testing {

std::vector<std::wstring> ListArchive(const std::wstring& archivePath, bool* ok) {
  std::string output;
  bool listed =
      RunCapturing(L"\"" + ArchiveToolPath() + L"\" l -slt -sccUTF-8 -bso1 \"" + archivePath + L"\"", &output);
  if (ok) *ok = listed;
  std::vector<std::wstring> entries;
  if (!listed) return entries;
  // Entries follow the "----------" line; each starts with "Path = ".
  size_t start = output.find("\n----------");
  if (start == std::string::npos) return entries;
  size_t at = start;
  while ((at = output.find("\nPath = ", at)) != std::string::npos) {
    at += 8;
    size_t end = output.find_first_of("\r\n", at);
    entries.push_back(Utf8ToWide(output.substr(at, end - at)));
  }
  return entries;
}

bool ExtractWithSevenZip(const std::wstring& archivePath, const std::wstring& destination) {
  std::string output;
  return RunCapturing(L"\"" + ArchiveToolPath() + L"\" x -y \"" + archivePath + L"\" \"-o" + destination + L"\"",
                      &output);
}

}  // namespace brivon::testing
