#include "files/zip_directory.h"

#include <windows.h>

#include <algorithm>
#include <optional>

#include "common/long_path.h"
#include "common/unique_handle.h"

namespace brivon {
namespace {

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kEntrySignature = 0x02014b50;
constexpr uint16_t kZip64ExtraId = 0x0001;

constexpr uint64_t kEndBytes = 22;
constexpr uint64_t kMaxCommentBytes = 0xFFFF;
constexpr uint64_t kLocatorBytes = 20;
constexpr uint64_t kZip64EndBytes = 56;
constexpr uint64_t kEntryBytes = 46;

// The first read: the end record with the longest comment, the ZIP64 records before it, and the
// directory of a package of a few thousand files.
constexpr uint64_t kFirstReadBytes = 256 * 1024;
// A directory past this is no package's: 7-Zip's listing, bounded as well, decides.
constexpr uint64_t kDirectoryLimitBytes = 64 * 1024 * 1024;

uint64_t Little(std::string_view bytes, size_t at, size_t count) {
  uint64_t value = 0;
  for (size_t i = count; i-- > 0;) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}
uint16_t U16(std::string_view bytes, size_t at) { return static_cast<uint16_t>(Little(bytes, at, 2)); }
uint32_t U32(std::string_view bytes, size_t at) { return static_cast<uint32_t>(Little(bytes, at, 4)); }
uint64_t U64(std::string_view bytes, size_t at) { return Little(bytes, at, 8); }

ZipDirectoryReading NotZip() { return {}; }
ZipDirectoryReading NeedsFrom(uint64_t offset) {
  ZipDirectoryReading reading;
  reading.result = ZipDirectoryReading::Result::NeedsFrom;
  reading.from = offset;
  return reading;
}

// Where the directory lies, from the end records.
struct DirectoryPlace {
  uint64_t entries = 0;
  uint64_t size = 0;
  uint64_t offset = 0;
  uint64_t endsAt = 0;  // the first end record after it: the directory must run up to there
};

// The end record is the last one whose comment runs exactly to the end of the file; the comment
// may itself hold the signature's bytes.
std::optional<size_t> FindEndRecord(std::string_view tail) {
  if (tail.size() < kEndBytes) return std::nullopt;
  const size_t lowest = tail.size() - kEndBytes > kMaxCommentBytes ? tail.size() - kEndBytes - kMaxCommentBytes : 0;
  for (size_t at = tail.size() - kEndBytes + 1; at-- > lowest;) {
    if (U32(tail, at) == kEndSignature && at + kEndBytes + U16(tail, at + 20) == tail.size()) return at;
  }
  return std::nullopt;
}

// The unpacked size of one directory entry: its own field, or its ZIP64 extra field when the
// field holds 0xFFFFFFFF (the extra's first value then).
std::optional<uint64_t> EntrySize(std::string_view entry, size_t nameBytes, size_t extraBytes) {
  const uint32_t size = U32(entry, 24);
  if (size != 0xFFFFFFFF) return size;
  std::string_view extra = entry.substr(kEntryBytes + nameBytes, extraBytes);
  while (extra.size() >= 4) {
    const uint16_t id = U16(extra, 0);
    const size_t dataBytes = U16(extra, 2);
    if (4 + dataBytes > extra.size()) return std::nullopt;
    if (id == kZip64ExtraId) return dataBytes >= 8 ? std::optional<uint64_t>(U64(extra, 4)) : std::nullopt;
    extra.remove_prefix(4 + dataBytes);
  }
  return std::nullopt;
}

}  // namespace

ZipDirectoryReading ReadZipDirectory(std::string_view tail, uint64_t fileSize) {
  if (tail.size() > fileSize) return NotZip();
  const uint64_t tailStart = fileSize - tail.size();
  const std::optional<size_t> end = FindEndRecord(tail);
  if (!end) {
    // Not found where the longest comment could still hide it: read further back.
    constexpr uint64_t kLongestEnd = kEndBytes + kMaxCommentBytes;
    if (tailStart == 0 || tail.size() >= kLongestEnd) return NotZip();
    return NeedsFrom(fileSize > kLongestEnd ? fileSize - kLongestEnd : 0);
  }
  // A ZIP64 locator, if any, stands right before the end record.
  if (*end < kLocatorBytes + kZip64EndBytes && tailStart > 0) {
    const uint64_t endOffset = tailStart + *end;
    return NeedsFrom(endOffset > kLocatorBytes + kZip64EndBytes ? endOffset - kLocatorBytes - kZip64EndBytes : 0);
  }
  DirectoryPlace place;
  if (*end >= kLocatorBytes && U32(tail, *end - kLocatorBytes) == kZip64LocatorSignature) {
    const size_t locator = *end - kLocatorBytes;
    const uint64_t locatorOffset = tailStart + locator;
    const uint64_t recordOffset = U64(tail, locator + 8);
    const uint32_t disks = U32(tail, locator + 16);
    if (U32(tail, locator + 4) != 0 || disks > 1 || recordOffset > locatorOffset ||
        locatorOffset - recordOffset < kZip64EndBytes) {
      return NotZip();
    }
    if (recordOffset < tailStart) return NeedsFrom(recordOffset);
    const size_t record = static_cast<size_t>(recordOffset - tailStart);
    // Its size counts what follows the first 12 bytes; the locator comes right after it.
    if (U32(tail, record) != kZip64EndSignature || U64(tail, record + 4) != locatorOffset - recordOffset - 12 ||
        U32(tail, record + 16) != 0 || U32(tail, record + 20) != 0 ||
        U64(tail, record + 24) != U64(tail, record + 32)) {
      return NotZip();
    }
    place = {U64(tail, record + 32), U64(tail, record + 40), U64(tail, record + 48), recordOffset};
  } else {
    if (U16(tail, *end + 4) != 0 || U16(tail, *end + 6) != 0 || U16(tail, *end + 8) != U16(tail, *end + 10)) {
      return NotZip();
    }
    place = {U16(tail, *end + 10), U32(tail, *end + 12), U32(tail, *end + 16), tailStart + *end};
  }
  if (place.size > place.endsAt || place.offset != place.endsAt - place.size ||
      place.entries > place.size / kEntryBytes) {
    return NotZip();
  }
  if (place.offset < tailStart) return NeedsFrom(place.offset);

  std::string_view directory = tail.substr(static_cast<size_t>(place.offset - tailStart),
                                           static_cast<size_t>(place.size));
  uint64_t total = 0;
  for (uint64_t i = 0; i < place.entries; ++i) {
    if (directory.size() < kEntryBytes || U32(directory, 0) != kEntrySignature) return NotZip();
    const size_t nameBytes = U16(directory, 28), extraBytes = U16(directory, 30), commentBytes = U16(directory, 32);
    const size_t entryBytes = kEntryBytes + nameBytes + extraBytes + commentBytes;
    if (entryBytes > directory.size()) return NotZip();
    const std::optional<uint64_t> size = EntrySize(directory, nameBytes, extraBytes);
    if (!size) return NotZip();
    total = *size > UINT64_MAX - total ? UINT64_MAX : total + *size;
    directory.remove_prefix(entryBytes);
  }
  if (!directory.empty()) return NotZip();
  ZipDirectoryReading reading;
  reading.result = ZipDirectoryReading::Result::Total;
  reading.total = total;
  return reading;
}

namespace {

// ReadZipDirectory over the file at path, reading further back as it asks; NotZip when the file
// cannot be read.
ZipDirectoryReading ReadZipDirectoryOf(const std::wstring& path) {
  UniqueFile file(::CreateFileW(ForFileSystem(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size = {};
  if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) return NotZip();
  const uint64_t fileSize = static_cast<uint64_t>(size.QuadPart);
  uint64_t from = fileSize > kFirstReadBytes ? fileSize - kFirstReadBytes : 0;
  std::string tail;
  // Each further read reaches further back: the ZIP64 end record, then the directory.
  for (int read = 0; read < 3; ++read) {
    if (fileSize - from > kDirectoryLimitBytes) return NotZip();
    tail.assign(static_cast<size_t>(fileSize - from), '\0');
    LARGE_INTEGER at = {};
    at.QuadPart = static_cast<LONGLONG>(from);
    if (!::SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN)) return NotZip();
    for (size_t done = 0; done < tail.size();) {
      DWORD got = 0;
      const DWORD want = static_cast<DWORD>(std::min<size_t>(tail.size() - done, 1 << 20));
      if (!::ReadFile(file.get(), &tail[done], want, &got, nullptr) || got == 0) return NotZip();
      done += got;
    }
    const ZipDirectoryReading reading = ReadZipDirectory(tail, fileSize);
    if (reading.result != ZipDirectoryReading::Result::NeedsFrom) return reading;
    if (reading.from >= from) return NotZip();
    from = reading.from;
  }
  return NotZip();
}

}  // namespace

bool ReadZipUnpackedSize(const std::wstring& path, uint64_t* total) {
  const ZipDirectoryReading reading = ReadZipDirectoryOf(path);
  if (reading.result != ZipDirectoryReading::Result::Total) return false;
  *total = reading.total;
  return true;
}

// The directory reads whole only when it and the end records meet the file's size exactly.
bool ZipEndAgreesWithSize(const std::wstring& path) {
  return ReadZipDirectoryOf(path).result == ZipDirectoryReading::Result::Total;
}

}  // namespace brivon
