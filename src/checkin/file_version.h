// The file version of an executable, as its version resource states it.
#pragma once

#include <cstdint>
#include <string>

namespace brivon {

inline constexpr char kVersionUnavailable[] = "No disponible";

// "major.minor.build.revision" from the two double words of the fixed file information.
std::string FormatFileVersion(uint32_t versionMs, uint32_t versionLs);

// The file version (never the product version) of the executable at path, or "No disponible"
// when it has no readable version resource.
std::string ReadFileVersion(const std::wstring& path);

}  // namespace brivon
