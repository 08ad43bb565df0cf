// The command lines of the 7-Zip console tool beside the program: the one archiver of the program,
// for unpacking packages, listing archives and making every archive it keeps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brivon {

inline constexpr wchar_t kArchiveToolName[] = L"7za.exe";

// programFolder + "\7za.exe".
std::wstring ArchiveToolPath(const std::wstring& programFolder);

// "<tool>" x "<archive>" -o"<destination>" -y
std::wstring ExtractCommandLine(const std::wstring& toolPath, const std::wstring& archivePath,
                                const std::wstring& destinationFolder);
// The same with 7-Zip's progress output switched on: ... -y -bsp1
std::wstring ExtractCommandLineWithProgress(const std::wstring& toolPath, const std::wstring& archivePath,
                                            const std::wstring& destinationFolder);

// "<tool>" l -slt -sccUTF-8 "<archive>": one block of "Name = value" lines per entry, in UTF-8.
std::wstring ListCommandLine(const std::wstring& toolPath, const std::wstring& archivePath);

// 7-Zip compresses the files of a ZIP on several threads, one file to a thread and a 32 MB buffer
// each, so a file alone never gains from them. They pay off only when the files beside the
// largest hold enough to compress meanwhile; below this, starting them costs more than they save
// (a program and a 4 MB database: 0.19 s with them, 0.13 s without).
inline constexpr uint64_t kArchiveThreadsMinBytes = 4 * 1024 * 1024;

// Whether files of these sizes are worth archiving on several threads.
bool ArchiveThreadsPayOff(const std::vector<uint64_t>& fileSizes);

// "<tool>" a -tzip -mx1 [-mmt=off] -bso0 -bsp0 -ssw -y "<archive>" "<folder>\*": the folder's files
// and subfolders, hidden and system ones too, at the archive's top level; -mmt=off unless threads.
// -ssw reads files another program holds open for writing; -mx1 because the archive is made while
// a person waits. 7-Zip adds to an archive that exists: the callers name one that does not.
std::wstring FolderArchiveCommandLine(const std::wstring& toolPath, const std::wstring& folder,
                                      const std::wstring& archivePath, bool threads);
// "<tool>" a -tzip -mx1 -mmt=off -bso0 -bsp0 -ssw -y "<archive>" "<file>": the one file under its
// own name.
std::wstring FileArchiveCommandLine(const std::wstring& toolPath, const std::wstring& file,
                                    const std::wstring& archivePath);

}  // namespace brivon
