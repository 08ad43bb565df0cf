// The folder the running executable lies in: the root of every absolute path of the program.
#pragma once

#include <string>
#include <string_view>

namespace brivon {

// Module path as GetModuleFileNameW gave it (length = its return value) -> program folder.
// A failed call (0) or a path that fills the 260-character buffer gives the empty folder, never a
// truncated ancestor; otherwise the path is cut before its last backslash or slash.
std::wstring ProgramFolderFromModulePath(std::wstring_view path, unsigned long length);

std::wstring GetProgramFolder();

// The folder as a current directory: a bare drive ("X:", the folder of "X:\brivon.exe") gets its
// backslash, since "X:" alone names the drive's remembered directory, not its root.
std::wstring AsCurrentDirectory(std::wstring_view folder);

}  // namespace brivon
