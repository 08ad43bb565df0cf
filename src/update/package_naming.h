// Names of update packages: the file name a package URL is stored under, and the name tests the
// update run tells its stages apart by.
#pragma once

#include <string>
#include <string_view>

namespace brivon {

inline constexpr wchar_t kFallbackPackageName[] = L"descarga.bin";

// The last path segment of the URL (query and fragment dropped), with control bytes, bytes with
// the high bit set and the characters <>:"/\|?* each replaced by "_". A name Windows would change
// or refuse (empty, trailing dot or space, no stem, a device name, too long) gives "descarga.bin".
std::wstring PackageFileNameFromUrl(std::string_view url);

// "Programa.exe" -> "Programa", "C:\App\Paquete.zip" -> "C:\App\Paquete"; unchanged when the
// last dot is not in the last path component.
std::wstring StripExtension(std::wstring_view nameOrPath);

// True when the text after the last dot is "zip" in any letter case.
bool IsZipPackage(std::wstring_view nameOrPath);

// The data files ("*.MDB", "*.BDORVA") and the program's own files and folders ("brivon.exe",
// "7za.exe", the log, updates and versions folders), in any letter case: names a package that is
// neither an executable nor a ZIP never replaces.
bool IsNeverReplacedByPackage(std::wstring_view name);

// "7za.exe" in any letter case: the archive tool is checked against its pin when it is fetched,
// so no package, nor an executable inside one, ever takes its place.
bool IsArchiveToolName(std::wstring_view name);
// True when the text after the last dot, lower-cased, is exactly `extension` (given lower-case).
bool HasExtension(std::wstring_view name, std::wstring_view extension);

}  // namespace brivon
