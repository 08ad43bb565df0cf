// The fixed file version read straight from an image's version resource: what GetFileVersionInfo
// and VerQueryValue(L"\\") answer, from the few hundred bytes that hold it. The system's reader
// loads the file as a library twice to answer the same, which took a tenth of a start.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace brivon {

struct FixedFileVersion {
  uint32_t ms = 0;  // dwFileVersionMS
  uint32_t ls = 0;  // dwFileVersionLS
};

// Reads size bytes of a file from offset into out; false when the file holds fewer.
using ReadFileBytes = std::function<bool(uint64_t offset, uint32_t size, std::string& out)>;

// The file version of the image read through read, when its resource is the plain case: a PE image
// whose VS_VERSION_INFO (type 16, id 1) has one language, the key "VS_VERSION_INFO" and a whole
// fixed part with its signature. Nothing for anything else, which the system's reader is then
// asked about, so that the answer is always the system's.
std::optional<FixedFileVersion> FixedFileVersionOf(const ReadFileBytes& read);

// FixedFileVersionOf the file at path; nothing when it cannot be opened.
std::optional<FixedFileVersion> ReadFixedFileVersion(const std::wstring& path);

}  // namespace brivon
