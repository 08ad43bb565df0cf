// Whether a file is a Windows program, for which processor, and whether the file holds all of it:
// only a whole image may take the installed program's name. A web filter's page served with status
// 200, a truncated download, an image cut short at its source or a DLL is none.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// Bytes of a file, from an offset.
struct FileRange {
  uint64_t offset = 0;
  uint64_t size = 0;
};

// Where an image's parts lie in its file: the raw data of each section (PointerToRawData,
// SizeOfRawData) and the certificate table (the security directory's entry, a file offset; size 0
// without one). A file cut short anywhere before their end is refused by the loader, or loads
// code that is not there.
struct ImageLayout {
  std::vector<FileRange> sections;
  FileRange certificates;
};

// The end of the farthest part: the size a file needs to hold the whole image.
uint64_t ImageBytesNeeded(const ImageLayout& layout);

// Whether a file of fileSize bytes holds every part of the image.
bool ImageIsWhole(const ImageLayout& layout, uint64_t fileSize);

// How many of a file's first bytes ImageLayoutOf needs (through the section table), given the
// bytes ExecutableImageMachine takes; nothing when those are no image.
std::optional<size_t> ImageHeadersBytesNeeded(std::string_view head);

// The layout read from an image's headers (its first ImageHeadersBytesNeeded bytes); nothing when
// they are fewer or hold no executable image's headers.
std::optional<ImageLayout> ImageLayoutOf(std::string_view headers);

// What ReadImage learns of a file.
struct ImageFacts {
  std::optional<uint16_t> machine;     // ExecutableImageMachine; nothing for no image
  std::optional<ImageLayout> layout;   // nothing when its headers are cut or damaged
  uint64_t headersSize = 0;            // ImageHeadersBytesNeeded; 0 for no image
  uint64_t fileSize = 0;
};

// The size the file needs to hold the whole image: ImageBytesNeeded, or its headers' size when they
// are cut.
uint64_t ImageBytesNeeded(const ImageFacts& facts);

// The facts of the file at path; all empty when it cannot be read.
ImageFacts ReadImage(const std::wstring& path);

}  // namespace brivon
