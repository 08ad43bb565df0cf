// Little-endian numbers read from a file's bytes, as Windows images store them. The caller has
// checked that the bytes reach that far.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace brivon {

inline uint16_t Read16(std::string_view bytes, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) | (static_cast<uint8_t>(bytes[at + 1]) << 8));
}

inline uint32_t Read32(std::string_view bytes, size_t at) {
  return static_cast<uint32_t>(Read16(bytes, at)) | (static_cast<uint32_t>(Read16(bytes, at + 2)) << 16);
}

}  // namespace brivon
