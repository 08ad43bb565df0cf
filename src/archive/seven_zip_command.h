// The command lines of the 7-Zip console tool beside the program: the one archiver of the program,
// for unpacking packages, listing archives and making every archive it keeps.
#pragma once

#include <string>

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

// "<tool>" a -tzip -mx1 -ssw -y "<archive>" "<folder>\*": the folder's files and subfolders, hidden
// and system ones too, at the archive's top level. -ssw reads files another program holds open for
// writing; -mx1 because the archive is made while a person waits. 7-Zip adds to an archive that
// exists: the callers name one that does not.
std::wstring FolderArchiveCommandLine(const std::wstring& toolPath, const std::wstring& folder,
                                      const std::wstring& archivePath);
// "<tool>" a -tzip -mx1 -ssw -y "<archive>" "<file>": the one file under its own name.
std::wstring FileArchiveCommandLine(const std::wstring& toolPath, const std::wstring& file,
                                    const std::wstring& archivePath);

}  // namespace brivon
