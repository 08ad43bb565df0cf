// Making ZIP archives with 7-Zip: a folder's contents, or one file. 7-Zip reads hidden and system
// files, files over 4 GiB, and files another program holds open for writing.
#pragma once

#include <string>

#include "sevenzip/child_process.h"

namespace brivon {

// Exit code given when programFolder holds no 7za.exe: nothing was started (the system's own
// "file not found", as a start of a missing program gives).
inline constexpr unsigned long kArchiveToolMissing = 2;

// True when programFolder\7za.exe is there.
bool IsArchiveToolPresent(const std::wstring& programFolder);

// Where an archive is written before it takes its name: "<stem>.nuevo.zip" beside "<stem>.zip".
std::wstring FreshArchiveName(const std::wstring& archivePath);

// Writes archivePath, which must not exist (one there is removed first: 7-Zip would add to it),
// from folder's contents (its files and subfolders at the archive's top level) or from one file.
// True when 7-Zip ended with 0 and the archive is there and not empty. code: 7-Zip's exit code,
// kArchiveToolMissing, the system error when it could not start, or kChildTimedOutExitCode when it
// ran past timeoutMs. A failed run leaves no archive behind. started (optional): whether 7-Zip ran
// at all, so that a tool the system will not start (code: its error) is told from 7-Zip's own codes.
bool ZipFolderContents(const std::wstring& programFolder, const std::wstring& folder, const std::wstring& archivePath,
                       unsigned long* code, unsigned long timeoutMs = kChildProcessTimeoutMs,
                       bool* started = nullptr);
bool ZipOneFile(const std::wstring& programFolder, const std::wstring& file, const std::wstring& archivePath,
                unsigned long* code, unsigned long timeoutMs = kChildProcessTimeoutMs);

}  // namespace brivon
