// Deep program folders: a path of MAX_PATH (260) characters or more reaches the file system only
// in its extended-length form ("\\?\C:\...", "\\?\UNC\server\share\..."), which the wide file
// functions take without the limit. Shorter paths are left as they are, so that nothing changes
// for the usual folder.
#pragma once

#include <string>
#include <string_view>

namespace brivon {

// The path as the file functions should be given it. Only an absolute path with backslashes and
// no "." or ".." steps is extended (the extended form takes every name literally); anything else,
// and a path already extended, is returned unchanged.
std::wstring ForFileSystem(std::wstring_view path);

}  // namespace brivon
