#include "checkin/version_resource.h"

#include <windows.h>

#include <string_view>
#include <vector>

#include "common/unique_handle.h"
#include "files/little_endian.h"

namespace brivon {
namespace {

constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint32_t kVersionType = 16;  // RT_VERSION
constexpr uint32_t kVersionInfoId = 1;  // VS_VERSION_INFO
constexpr uint32_t kFixedSignature = 0xFEEF04BD;
// Past these no image is the plain case: the system's reader answers for it.
constexpr uint32_t kMaxHeaderOffset = 64 * 1024;
constexpr uint16_t kMaxSections = 96;
constexpr uint32_t kMaxDirectoryEntries = 4096;
// WORD wLength, WORD wValueLength, WORD wType, L"VS_VERSION_INFO" and its padding, the fixed part.
constexpr uint32_t kFixedPartAt = 40;
constexpr uint32_t kFixedPartSize = 52;  // sizeof(VS_FIXEDFILEINFO)
constexpr std::u16string_view kVersionKey = u"VS_VERSION_INFO";

struct Section {
  uint32_t virtualAddress = 0;
  uint32_t rawSize = 0;
  uint32_t rawOffset = 0;
};

// An image's sections and its resources' place, from its headers.
struct Image {
  std::vector<Section> sections;
  uint32_t resourceRva = 0;

  // Where size bytes from rva lie in the file, when one section holds them all.
  std::optional<uint64_t> FileOffsetOf(uint64_t rva, uint32_t size) const {
    for (const Section& section : sections) {
      if (rva < section.virtualAddress) continue;
      const uint64_t into = rva - section.virtualAddress;
      if (into + size <= section.rawSize) return section.rawOffset + into;
    }
    return std::nullopt;
  }
};

std::optional<Image> ImageOf(const ReadFileBytes& read) {
  std::string bytes;
  if (!read(0, 64, bytes) || bytes[0] != 'M' || bytes[1] != 'Z') return std::nullopt;
  const uint32_t peAt = Read32(bytes, 0x3C);
  if (peAt > kMaxHeaderOffset || !read(peAt, 24, bytes) || bytes.compare(0, 4, std::string("PE\0\0", 4)) != 0) {
    return std::nullopt;
  }
  const uint16_t sectionCount = Read16(bytes, 6);
  const uint16_t optionalSize = Read16(bytes, 20);
  if (sectionCount == 0 || sectionCount > kMaxSections || !read(peAt + 24, optionalSize, bytes)) return std::nullopt;
  // The data directories follow the fields of the optional header, which PE32+ widens.
  size_t directories = 0;
  switch (optionalSize >= 2 ? Read16(bytes, 0) : 0) {
    case 0x10B:
      directories = 96;
      break;
    case 0x20B:
      directories = 112;
      break;
    default:
      return std::nullopt;
  }
  const size_t resourceEntry = directories + 8 * kResourceDirectoryIndex;
  // NumberOfRvaAndSizes, the field just before the directories, must reach the resources' entry.
  if (resourceEntry + 8 > optionalSize || Read32(bytes, directories - 4) <= kResourceDirectoryIndex) {
    return std::nullopt;
  }
  Image image;
  image.resourceRva = Read32(bytes, resourceEntry);
  if (image.resourceRva == 0 || !read(peAt + 24 + optionalSize, 40u * sectionCount, bytes)) return std::nullopt;
  for (uint16_t i = 0; i < sectionCount; ++i) {
    const size_t at = 40u * i;
    image.sections.push_back(Section{Read32(bytes, at + 12), Read32(bytes, at + 16), Read32(bytes, at + 20)});
  }
  return image;
}

// The entry of a resource directory (at offset within the resources) with the given id and no
// name, when the directory names it once: its offset field.
std::optional<uint32_t> DirectoryEntry(const ReadFileBytes& read, const Image& image, uint32_t offset, uint32_t id) {
  const uint64_t rva = uint64_t{image.resourceRva} + offset;
  const auto head = image.FileOffsetOf(rva, 16);
  std::string bytes;
  if (!head || !read(*head, 16, bytes)) return std::nullopt;
  const uint32_t named = Read16(bytes, 12);
  const uint32_t ids = Read16(bytes, 14);
  if (ids == 0 || named + ids > kMaxDirectoryEntries) return std::nullopt;
  // Named entries come first, then those with an id.
  const auto whole = image.FileOffsetOf(rva, 16 + 8 * (named + ids));
  if (!whole || !read(*whole + 16 + 8 * named, 8 * ids, bytes)) return std::nullopt;
  std::optional<uint32_t> found;
  for (uint32_t i = 0; i < ids; ++i) {
    if (Read32(bytes, 8 * i) != id) continue;
    if (found) return std::nullopt;
    found = Read32(bytes, 8 * i + 4);
  }
  return found;
}

constexpr uint32_t kSubdirectory = 0x80000000;

}  // namespace

std::optional<FixedFileVersion> FixedFileVersionOf(const ReadFileBytes& read) {
  const std::optional<Image> image = ImageOf(read);
  if (!image) return std::nullopt;
  // Type, then id, then language: the plain case has one language, which any lookup finds.
  const auto type = DirectoryEntry(read, *image, 0, kVersionType);
  if (!type || !(*type & kSubdirectory)) return std::nullopt;
  const auto name = DirectoryEntry(read, *image, *type & ~kSubdirectory, kVersionInfoId);
  if (!name || !(*name & kSubdirectory)) return std::nullopt;
  const auto languages = image->FileOffsetOf(uint64_t{image->resourceRva} + (*name & ~kSubdirectory), 24);
  std::string bytes;
  if (!languages || !read(*languages, 24, bytes) || Read16(bytes, 12) + Read16(bytes, 14) != 1) return std::nullopt;
  const uint32_t dataEntry = Read32(bytes, 20);
  if (dataEntry & kSubdirectory) return std::nullopt;
  const auto entry = image->FileOffsetOf(uint64_t{image->resourceRva} + dataEntry, 16);
  if (!entry || !read(*entry, 16, bytes)) return std::nullopt;
  const uint32_t blockRva = Read32(bytes, 0);
  const uint32_t blockSize = Read32(bytes, 4);
  constexpr uint32_t kHead = kFixedPartAt + kFixedPartSize;
  const auto block = image->FileOffsetOf(blockRva, kHead);
  if (blockSize < kHead || !block || !read(*block, kHead, bytes)) return std::nullopt;
  const uint16_t length = Read16(bytes, 0);
  const uint16_t valueLength = Read16(bytes, 2);
  for (size_t i = 0; i <= kVersionKey.size(); ++i) {
    const char16_t expected = i < kVersionKey.size() ? kVersionKey[i] : u'\0';
    if (Read16(bytes, 6 + 2 * i) != expected) return std::nullopt;
  }
  if (length < kHead || length > blockSize || valueLength < kFixedPartSize ||
      Read32(bytes, kFixedPartAt) != kFixedSignature) {
    return std::nullopt;
  }
  return FixedFileVersion{Read32(bytes, kFixedPartAt + 8), Read32(bytes, kFixedPartAt + 12)};
}

std::optional<FixedFileVersion> ReadFixedFileVersion(const std::wstring& path) {
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  return FixedFileVersionOf([&file](uint64_t offset, uint32_t size, std::string& out) {
    out.assign(size, '\0');
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    return ::ReadFile(file.get(), out.data(), size, &got, &at) && got == size;
  });
}

}  // namespace brivon
