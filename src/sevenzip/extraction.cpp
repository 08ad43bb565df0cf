#include "sevenzip/extraction.h"

#include <windows.h>

#include <optional>

#include "common/long_path.h"
#include "files/file_facts.h"
#include "sevenzip/extraction_progress.h"

namespace brivon {

bool ExtractArchive(const std::wstring& programFolder, const std::wstring& archivePath,
                    const std::wstring& destinationFolder, unsigned long* exitCode, unsigned long timeoutMs,
                    const std::function<void(int percent)>& progress) {
  unsigned long code = kExtractFolderFailed;
  auto report = [&](bool result) {
    if (exitCode) *exitCode = code;
    return result;
  };

  if (!IsExistingFolder(destinationFolder) && !::CreateDirectoryW(ForFileSystem(destinationFolder).c_str(), nullptr) &&
      ::GetLastError() != ERROR_ALREADY_EXISTS) {
    return report(false);
  }

  std::wstring toolPath = ArchiveToolPath(programFolder);
  if (!IsExistingFile(toolPath)) {
    code = kExtractToolMissing;
    return report(false);
  }

  if (!progress) {
    if (!RunHiddenProcess(ExtractCommandLine(toolPath, archivePath, destinationFolder), &code, timeoutMs,
                          programFolder)) {
      return report(false);
    }
  } else {
    std::optional<int> shown;
    auto show = [&](int percent) {
      if (shown == percent) return;
      shown = percent;
      progress(percent);
    };
    ExtractionProgressReader reader;
    auto read = [&](const char* data, size_t size) {
      reader.Feed(data, size);
      if (auto percent = reader.Percent()) show(*percent);
    };
    if (!RunHiddenProcessPiped(ExtractCommandLineWithProgress(toolPath, archivePath, destinationFolder), read,
                               &code, timeoutMs, programFolder)) {
      return report(false);
    }
    // 7-Zip clears its progress line at the end instead of writing 100%.
    if (IsExtractionSuccess(code)) show(100);
  }
  // 1 is 7-Zip's warning (for example a file it could not overwrite): the rest is unpacked.
  return report(IsExtractionSuccess(code));
}

}  // namespace brivon
