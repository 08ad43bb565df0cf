// ZIP archives written by hand, for what 7-Zip's own "a" command never writes.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace brivon::testing {

inline uint32_t Crc32(const std::string& data) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : data) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

// A ZIP archive with the given entries stored as written (names taken verbatim, "../" included):
// 7-Zip's own "a" command never writes such names.
inline std::string MakeStoredZip(const std::vector<std::pair<std::string, std::string>>& entries) {
  auto le16 = [](std::string& out, uint32_t v) { out.append({char(v & 0xFF), char((v >> 8) & 0xFF)}); };
  auto le32 = [&](std::string& out, uint32_t v) {
    le16(out, v & 0xFFFF);
    le16(out, v >> 16);
  };
  std::string archive, directory;
  for (const auto& [name, data] : entries) {
    uint32_t offset = static_cast<uint32_t>(archive.size());
    uint32_t crc = Crc32(data);
    le32(archive, 0x04034b50);
    le16(archive, 10), le16(archive, 0), le16(archive, 0), le16(archive, 0), le16(archive, 0x21);
    le32(archive, crc), le32(archive, data.size()), le32(archive, data.size());
    le16(archive, name.size()), le16(archive, 0);
    archive += name + data;
    le32(directory, 0x02014b50);
    le16(directory, 20), le16(directory, 10), le16(directory, 0), le16(directory, 0), le16(directory, 0);
    le16(directory, 0x21);
    le32(directory, crc), le32(directory, data.size()), le32(directory, data.size());
    le16(directory, name.size()), le16(directory, 0), le16(directory, 0), le16(directory, 0), le16(directory, 0);
    le32(directory, 0), le32(directory, offset);
    directory += name;
  }
  uint32_t directoryOffset = static_cast<uint32_t>(archive.size());
  archive += directory;
  le32(archive, 0x06054b50);
  le16(archive, 0), le16(archive, 0), le16(archive, entries.size()), le16(archive, entries.size());
  le32(archive, directory.size()), le32(archive, directoryOffset), le16(archive, 0);
  return archive;
}

}  // namespace brivon::testing
