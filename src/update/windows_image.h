// Whether a file is a Windows program, and for which processor: only such a file may take the
// installed program's name. A web filter's page served with status 200, a truncated download or a
// DLL is none.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brivon {

// Machine types of the image file header.
inline constexpr uint16_t kMachineI386 = 0x014C;
inline constexpr uint16_t kMachineAmd64 = 0x8664;
inline constexpr uint16_t kMachineArm64 = 0xAA64;

// The machine type of an executable image, given the file's first bytes (at least up to the end of
// its file header): an "MZ" header whose e_lfanew leads to "PE\0\0" and a file header marked as an
// executable image and not a DLL. Nothing when the bytes are not such an image (or too few).
std::optional<uint16_t> ExecutableImageMachine(std::string_view head);

// How many of a file's first bytes ExecutableImageMachine needs, read from its MZ header
// (at least 64); nothing when the header is no MZ header or points past any real image header.
std::optional<size_t> ImageHeadBytesNeeded(std::string_view mzHeader);

// Whether candidate (ExecutableImageMachine of the new file) may replace the program whose machine
// type is installed: a Windows image of the same machine type. With no installed image to compare
// to (missing, or itself not an image), any Windows image may.
bool MayReplaceProgram(std::optional<uint16_t> candidate, std::optional<uint16_t> installed);

// ExecutableImageMachine of the file at path; nothing when it cannot be read or is no image.
std::optional<uint16_t> ReadExecutableImageMachine(const std::wstring& path);

}  // namespace brivon
