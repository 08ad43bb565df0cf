#include "sevenzip/seven_zip_command.h"

#include <algorithm>
#include <numeric>

namespace brivon {
namespace {

// Paths never hold a double quote, so plain quotes keep each one whole, spaces and all.
std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// Nobody reads what an archiving run prints (its standard handles go to the null device), so it
// prints neither its listing nor its progress: -bso0 -bsp0. Its errors still go out; the exit code
// tells the run's outcome.
std::wstring AddCommandLine(const std::wstring& toolPath, const std::wstring& archivePath, const std::wstring& input,
                            bool threads) {
  return Quoted(toolPath) + L" a -tzip -mx1" + (threads ? L"" : L" -mmt=off") + L" -bso0 -bsp0 -ssw -y " +
         Quoted(archivePath) + L" " + Quoted(input);
}

}  // namespace

std::wstring ArchiveToolPath(const std::wstring& programFolder) { return programFolder + L"\\" + kArchiveToolName; }

std::wstring ExtractCommandLine(const std::wstring& toolPath, const std::wstring& archivePath,
                                const std::wstring& destinationFolder) {
  return Quoted(toolPath) + L" x " + Quoted(archivePath) + L" -o" + Quoted(destinationFolder) + L" -y";
}

std::wstring ExtractCommandLineWithProgress(const std::wstring& toolPath, const std::wstring& archivePath,
                                            const std::wstring& destinationFolder) {
  return ExtractCommandLine(toolPath, archivePath, destinationFolder) + L" -bsp1";
}

std::wstring ListCommandLine(const std::wstring& toolPath, const std::wstring& archivePath) {
  return Quoted(toolPath) + L" l -slt -sccUTF-8 " + Quoted(archivePath);
}

bool ArchiveThreadsPayOff(const std::vector<uint64_t>& fileSizes) {
  if (fileSizes.empty()) return false;
  const uint64_t largest = *std::max_element(fileSizes.begin(), fileSizes.end());
  const uint64_t all = std::accumulate(fileSizes.begin(), fileSizes.end(), uint64_t{0});
  return all - largest >= kArchiveThreadsMinBytes;
}

std::wstring FolderArchiveCommandLine(const std::wstring& toolPath, const std::wstring& folder,
                                      const std::wstring& archivePath, bool threads) {
  return AddCommandLine(toolPath, archivePath, folder + L"\\*", threads);
}

std::wstring FileArchiveCommandLine(const std::wstring& toolPath, const std::wstring& file,
                                    const std::wstring& archivePath) {
  return AddCommandLine(toolPath, archivePath, file, false);
}

}  // namespace brivon
