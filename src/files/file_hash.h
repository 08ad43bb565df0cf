// A file's SHA-256 by the system's own hashing (CNG).
#pragma once

#include <string>

namespace brivon {

// The 32 digest bytes of the file's content; false when it cannot be read or hashed.
bool Sha256OfFile(const std::wstring& path, std::string& digest);

// The same as 64 lower-case hex digits; empty when it cannot be read or hashed.
std::string Sha256HexOfFile(const std::wstring& path);

}  // namespace brivon
