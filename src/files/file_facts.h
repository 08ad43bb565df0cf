// What the system tells of a path: a file or a folder standing there, and a file's size. Each
// asks on the long form where the path needs it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace brivon {

// A file (not a folder) stands at path.
bool IsExistingFile(const std::wstring& path);

// A folder stands at path.
bool IsExistingFolder(const std::wstring& path);

// The size of the file at path; nothing for a folder, or for a path the system cannot answer for.
std::optional<uint64_t> FileSizeOf(const std::wstring& path);

// A file's size as the system gives it, in two 32-bit halves.
inline uint64_t FileSizeFromHalves(DWORD high, DWORD low) { return (static_cast<uint64_t>(high) << 32) | low; }

}  // namespace brivon
