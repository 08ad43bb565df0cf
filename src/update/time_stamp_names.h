// Names made from the local time for the archives of replaced versions.
#pragma once

#include <windows.h>

#include <string>

namespace brivon {

// "YYMMDD_hhmmss" (year modulo 100, every field zero-padded to two digits): 251206_093015.
std::wstring ArchiveTimeStamp(const SYSTEMTIME& when);
// The time stamp followed by "_brivon": the name of a closing's archive in "\versiones".
std::wstring VersionArchiveName(const SYSTEMTIME& when);

SYSTEMTIME CurrentLocalTime();

}  // namespace brivon
