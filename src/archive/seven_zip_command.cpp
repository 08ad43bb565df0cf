#include "archive/seven_zip_command.h"

namespace brivon {
namespace {

// Paths never hold a double quote, so plain quotes keep each one whole, spaces and all.
std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

std::wstring AddCommandLine(const std::wstring& toolPath, const std::wstring& archivePath, const std::wstring& input) {
  return Quoted(toolPath) + L" a -tzip -mx1 -ssw -y " + Quoted(archivePath) + L" " + Quoted(input);
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

std::wstring FolderArchiveCommandLine(const std::wstring& toolPath, const std::wstring& folder,
                                      const std::wstring& archivePath) {
  return AddCommandLine(toolPath, archivePath, folder + L"\\*");
}

std::wstring FileArchiveCommandLine(const std::wstring& toolPath, const std::wstring& file,
                                    const std::wstring& archivePath) {
  return AddCommandLine(toolPath, archivePath, file);
}

}  // namespace brivon
