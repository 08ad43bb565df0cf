// A ZIP's central directory, read here: the size check before an update unpacks needs only the
// directory at the file's end, where 7-Zip's listing of a package of a thousand files takes a
// second; and a ZIP sent without its length is known whole only by its end.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brivon {

// What the last bytes of a file tell of it as a ZIP.
struct ZipDirectoryReading {
  enum class Result { Total, NeedsFrom, NotZip };
  Result result = Result::NotZip;
  uint64_t total = 0;  // Total: the entries' unpacked sizes added (UINT64_MAX when the sum overflows)
  uint64_t from = 0;   // NeedsFrom: the offset the bytes read must start at or before
};

// tail: the last tail.size() bytes of a file of fileSize bytes. NotZip for anything that does not
// read cleanly as a ZIP on one disk whose directory runs up to its end records (a self-extracting
// stub, another kind of archive, a damaged or cut directory): 7-Zip's listing decides those.
ZipDirectoryReading ReadZipDirectory(std::string_view tail, uint64_t fileSize);

// The total unpacked size of the ZIP at path, from its directory. False when the file cannot be
// read or does not read as such a ZIP.
bool ReadZipUnpackedSize(const std::wstring& path, uint64_t* total);

// Whether the file at path ends where its ZIP says it does: its end record (ZIP64 ones included)
// runs exactly to the file's end and the directory right up to the end record, every entry in it
// whole. A ZIP cut anywhere, one with bytes after its end record, or no ZIP at all does not.
bool ZipEndAgreesWithSize(const std::wstring& path);

}  // namespace brivon
