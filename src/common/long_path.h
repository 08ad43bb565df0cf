// Paths past MAX_PATH: a program folder deep in a user's documents, plus a time-stamped folder and
// an archive's own folders, passes 260 characters. The "\\?\" form lifts the limit for the file
// calls, but it also turns off the system's clean-up of the path, so only a path that needs none
// is given it.
#pragma once

#include <string>

namespace brivon {

// "C:\a\b" -> "\\?\C:\a\b"; "\\server\share\a" -> "\\?\UNC\server\share\a". A path already in
// that form, a relative one, or one holding "/", "." or ".." parts, or "\\" past its start, is
// returned as it is.
std::wstring LongPathForm(const std::wstring& path);

// The path as a single file call should be given it: LongPathForm from 248 characters on (room
// for what a caller appends, such as ".escribiendo"), otherwise unchanged, so that nothing
// changes for the usual folder.
std::wstring ForFileSystem(const std::wstring& path);

}  // namespace brivon
