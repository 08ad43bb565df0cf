// Unpacking a ZIP package with the 7-Zip command-line tool beside the program.
#pragma once

#include <functional>
#include <string>

#include "sevenzip/child_process.h"
#include "sevenzip/seven_zip_command.h"

namespace brivon {

// Exit codes of ExtractArchive's own failures (7-Zip's own codes pass through unchanged).
inline constexpr unsigned long kExtractFolderFailed = 0xFFFFFFFF;  // destination not creatable
inline constexpr unsigned long kExtractToolMissing = 2;            // no 7za.exe: nothing started

// 7-Zip's own verdict: 0 is success, 1 a warning (the files are out); anything else failed.
inline bool IsExtractionSuccess(unsigned long exitCode) { return exitCode == 0 || exitCode == 1; }

// Unpacks archivePath below destinationFolder (created when missing; its parent must exist) with
// programFolder\7za.exe, keeping the archive's folders and overwriting files. True when 7-Zip
// ends with 0 or 1 (warning); exitCode gets 7-Zip's code, the system error when it could not be
// started, or one of the codes above. A 7-Zip still running after timeoutMs is ended and gone before
// this returns false with kChildTimedOutExitCode.
// With progress, 7-Zip's own percentage is read from its output while it runs and handed to
// progress on the calling thread each time it rises; a successful end gives 100 last.
bool ExtractArchive(const std::wstring& programFolder, const std::wstring& archivePath,
                    const std::wstring& destinationFolder, unsigned long* exitCode,
                    unsigned long timeoutMs = kChildProcessTimeoutMs,
                    const std::function<void(int percent)>& progress = {});

}  // namespace brivon
