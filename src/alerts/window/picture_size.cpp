#include "alerts/window/picture_size.h"

#include <bitset>
#include <cstdint>

namespace brivon {
namespace {

uint32_t Byte(std::string_view b, size_t at) { return static_cast<unsigned char>(b[at]); }
uint32_t Big16(std::string_view b, size_t at) { return Byte(b, at) << 8 | Byte(b, at + 1); }
uint32_t Big32(std::string_view b, size_t at) { return Big16(b, at) << 16 | Big16(b, at + 2); }
uint32_t Little16(std::string_view b, size_t at) { return Byte(b, at) | Byte(b, at + 1) << 8; }
uint32_t Little32(std::string_view b, size_t at) { return Little16(b, at) | Little16(b, at + 2) << 16; }

bool StartsWith(std::string_view bytes, std::string_view magic) {
  return bytes.size() >= magic.size() && bytes.substr(0, magic.size()) == magic;
}

bool ReadPng(std::string_view b, uint32_t& w, uint32_t& h) {
  // Signature, then the IHDR chunk: length, type, width, height.
  if (b.size() < 24 || b.substr(12, 4) != "IHDR") return false;
  w = Big32(b, 16);
  h = Big32(b, 20);
  return true;
}

// The first image descriptor's size, past the global colour table and any extensions; false
// when there is none.
bool ReadGifFirstFrame(std::string_view b, uint32_t& w, uint32_t& h) {
  if (b.size() < 13) return false;
  size_t at = 13;
  const uint32_t screenFlags = Byte(b, 10);
  if (screenFlags & 0x80) at += 3 * (size_t{2} << (screenFlags & 7));
  while (at < b.size()) {
    const uint32_t block = Byte(b, at);
    if (block == 0x2C) {  // image descriptor: left, top, width, height
      if (at + 9 > b.size()) return false;
      w = Little16(b, at + 5);
      h = Little16(b, at + 7);
      return true;
    }
    if (block != 0x21 || at + 2 >= b.size()) return false;  // the trailer, or no block at all
    at += 2;  // introducer and label, then sub-blocks up to an empty one
    while (at < b.size() && Byte(b, at) != 0) at += 1 + Byte(b, at);
    ++at;
  }
  return false;
}

bool ReadGif(std::string_view b, PictureSize& size) {
  if (b.size() < 10) return false;
  size.width = Little16(b, 6);
  size.height = Little16(b, 8);
  uint32_t frameW = 0, frameH = 0;
  if (ReadGifFirstFrame(b, frameW, frameH) && frameW > 0 && frameH > 0 && frameW <= size.width &&
      frameH <= size.height && (frameW != size.width || frameH != size.height)) {
    size.frameWidth = frameW;
    size.frameHeight = frameH;
  }
  return true;
}

bool ReadBmp(std::string_view b, uint32_t& w, uint32_t& h) {
  if (b.size() < 18) return false;
  const uint32_t header = Little32(b, 14);
  if (header == 12) {  // the old OS/2 header: 16-bit sizes
    if (b.size() < 22) return false;
    w = Little16(b, 18);
    h = Little16(b, 20);
    return true;
  }
  if (b.size() < 26) return false;
  const int32_t width = static_cast<int32_t>(Little32(b, 18));
  const int32_t height = static_cast<int32_t>(Little32(b, 22));  // negative: rows top-down
  if (width < 0 || height == INT32_MIN) return false;
  w = static_cast<uint32_t>(width);
  h = static_cast<uint32_t>(height < 0 ? -height : height);
  return true;
}

bool IsStartOfFrame(uint32_t marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool ReadJpeg(std::string_view b, uint32_t& w, uint32_t& h) {
  size_t at = 2;
  while (at + 4 <= b.size()) {
    if (Byte(b, at) != 0xFF) return false;
    const uint32_t marker = Byte(b, at + 1);
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length follows
      at += 2;
      continue;
    }
    if (marker == 0xD9 || marker == 0xDA) return false;  // image data before any frame size
    const uint32_t length = Big16(b, at + 2);
    if (length < 2) return false;
    if (IsStartOfFrame(marker)) {
      if (at + 9 > b.size()) return false;
      h = Big16(b, at + 5);
      w = Big16(b, at + 7);
      return true;
    }
    at += 2 + length;
  }
  return false;
}

bool ReadTiff(std::string_view b, uint32_t& w, uint32_t& h) {
  const bool little = b[0] == 'I';
  auto u16 = [&](size_t at) { return little ? Little16(b, at) : Big16(b, at); };
  auto u32 = [&](size_t at) { return little ? Little32(b, at) : Big32(b, at); };
  const size_t directory = u32(4);
  if (directory > b.size() || b.size() - directory < 2) return false;
  const uint32_t entries = u16(directory);
  bool haveWidth = false, haveHeight = false;
  // A decoder may keep the first of two entries of one tag, or the last: either way it may read
  // another size than this reader, so a tag named twice is no size at all.
  std::bitset<65536> seen;
  for (uint32_t i = 0; i < entries; ++i) {
    const size_t entry = directory + 2 + 12 * static_cast<size_t>(i);
    if (entry + 12 > b.size()) return false;
    const uint32_t tag = u16(entry);
    const uint32_t type = u16(entry + 2);
    if (seen.test(tag)) return false;
    seen.set(tag);
    if (tag != 256 && tag != 257) continue;
    uint32_t value = 0;
    if (type == 3) value = u16(entry + 8);       // SHORT
    else if (type == 4) value = u32(entry + 8);  // LONG
    else return false;
    if (tag == 256) w = value, haveWidth = true;
    else h = value, haveHeight = true;
  }
  return haveWidth && haveHeight;
}

}  // namespace

bool ReadPictureSize(std::string_view bytes, PictureSize& size) {
  PictureSize read;
  bool known = false;
  if (StartsWith(bytes, "\x89PNG\r\n\x1a\n")) known = ReadPng(bytes, read.width, read.height);
  else if (StartsWith(bytes, "GIF87a") || StartsWith(bytes, "GIF89a")) known = ReadGif(bytes, read);
  else if (StartsWith(bytes, "BM")) known = ReadBmp(bytes, read.width, read.height);
  else if (StartsWith(bytes, "\xFF\xD8")) known = ReadJpeg(bytes, read.width, read.height);
  else if (bytes.size() >= 8 && (StartsWith(bytes, std::string_view("II*\0", 4)) ||
                                 StartsWith(bytes, std::string_view("MM\0*", 4)))) {
    known = ReadTiff(bytes, read.width, read.height);
  }
  if (!known || read.width == 0 || read.height == 0) return false;
  size = read;
  return true;
}

bool DecodedAsDeclared(const PictureSize& declared, uint32_t width, uint32_t height) {
  if (width == declared.width && height == declared.height) return true;
  return declared.frameWidth != 0 && width == declared.frameWidth && height == declared.frameHeight;
}

bool PictureFits(uint32_t width, uint32_t height, uint64_t pixelsLeft) {
  const uint64_t pixels = static_cast<uint64_t>(width) * height;  // no overflow: both are 32-bit
  return width > 0 && height > 0 && pixels <= kMaxPicturePixels && pixels <= pixelsLeft;
}

}  // namespace brivon
