#include "files/pe_image_check.h"

#include <windows.h>

#include "common/long_path.h"
#include "common/unique_handle.h"
#include "files/little_endian.h"
#include "files/sharing_waits.h"

namespace brivon {
namespace {

constexpr size_t kMzHeaderBytes = 64;
constexpr size_t kLfanewOffset = 0x3C;
// "PE\0\0", then the file header: machine (2), sections (2), time (4), symbols (4 + 4),
// optional header size (2), characteristics (2).
constexpr size_t kPeSignatureAndFileHeaderBytes = 4 + 20;
// The loader looks for the PE header within the file's first pages; a farther one is no image.
constexpr uint32_t kFarthestPeHeader = 64 * 1024;
constexpr uint16_t kExecutableImage = 0x0002;  // IMAGE_FILE_EXECUTABLE_IMAGE
constexpr uint16_t kDll = 0x2000;              // IMAGE_FILE_DLL
constexpr size_t kFileHeaderBytes = 20;
constexpr size_t kSectionHeaderBytes = 40;
constexpr uint16_t kPe32Magic = 0x010B;
constexpr uint16_t kPe32PlusMagic = 0x020B;
constexpr uint32_t kSecurityDirectory = 4;  // IMAGE_DIRECTORY_ENTRY_SECURITY: a file offset, not an RVA

}  // namespace

std::optional<size_t> ImageHeadBytesNeeded(std::string_view mzHeader) {
  if (mzHeader.size() < kMzHeaderBytes || mzHeader[0] != 'M' || mzHeader[1] != 'Z') return std::nullopt;
  const uint32_t lfanew = Read32(mzHeader, kLfanewOffset);
  if (lfanew < kMzHeaderBytes - 4 || lfanew > kFarthestPeHeader) return std::nullopt;
  return static_cast<size_t>(lfanew) + kPeSignatureAndFileHeaderBytes;
}

std::optional<uint16_t> ExecutableImageMachine(std::string_view head) {
  const std::optional<size_t> needed = ImageHeadBytesNeeded(head);
  if (!needed || head.size() < *needed) return std::nullopt;
  const size_t pe = *needed - kPeSignatureAndFileHeaderBytes;
  if (head.substr(pe, 4) != std::string_view("PE\0\0", 4)) return std::nullopt;
  const uint16_t characteristics = Read16(head, pe + 4 + 18);
  if (!(characteristics & kExecutableImage) || (characteristics & kDll)) return std::nullopt;
  const uint16_t machine = Read16(head, pe + 4);
  if (machine == 0) return std::nullopt;  // IMAGE_FILE_MACHINE_UNKNOWN
  return machine;
}

bool MayReplaceProgram(std::optional<uint16_t> candidate, std::optional<uint16_t> installed) {
  if (!candidate) return false;
  return !installed || *installed == *candidate;
}

std::optional<uint16_t> ReadExecutableImageMachine(const std::wstring& path) { return ReadImage(path).machine; }

uint64_t ImageBytesNeeded(const ImageLayout& layout) {
  uint64_t end = 0;
  auto reach = [&](const FileRange& range) {
    if (range.size != 0 && range.offset + range.size > end) end = range.offset + range.size;
  };
  for (const FileRange& section : layout.sections) reach(section);
  reach(layout.certificates);
  return end;
}

bool ImageIsWhole(const ImageLayout& layout, uint64_t fileSize) { return ImageBytesNeeded(layout) <= fileSize; }

uint64_t ImageBytesNeeded(const ImageFacts& facts) {
  return facts.layout ? ImageBytesNeeded(*facts.layout) : facts.headersSize;
}

std::optional<size_t> ImageHeadersBytesNeeded(std::string_view head) {
  if (!ExecutableImageMachine(head)) return std::nullopt;
  const size_t fileHeader = *ImageHeadBytesNeeded(head) - kFileHeaderBytes;
  const uint16_t sections = Read16(head, fileHeader + 2);
  const uint16_t optionalHeaderBytes = Read16(head, fileHeader + 16);
  return fileHeader + kFileHeaderBytes + optionalHeaderBytes + size_t{sections} * kSectionHeaderBytes;
}

std::optional<ImageLayout> ImageLayoutOf(std::string_view headers) {
  const std::optional<size_t> needed = ImageHeadersBytesNeeded(headers);
  if (!needed || headers.size() < *needed) return std::nullopt;
  const size_t fileHeader = *ImageHeadBytesNeeded(headers) - kFileHeaderBytes;
  const uint16_t sections = Read16(headers, fileHeader + 2);
  const uint16_t optionalHeaderBytes = Read16(headers, fileHeader + 16);
  const size_t optionalHeader = fileHeader + kFileHeaderBytes;
  if (optionalHeaderBytes < 2) return std::nullopt;
  // The count of data directories and where they begin differ between PE32 and PE32+.
  size_t directoryCountAt = 0;
  switch (Read16(headers, optionalHeader)) {
    case kPe32Magic:
      directoryCountAt = 92;
      break;
    case kPe32PlusMagic:
      directoryCountAt = 108;
      break;
    default:
      return std::nullopt;
  }
  ImageLayout layout;
  const size_t securityEntryAt = directoryCountAt + 4 + kSecurityDirectory * 8;
  if (optionalHeaderBytes >= securityEntryAt + 8 &&
      Read32(headers, optionalHeader + directoryCountAt) > kSecurityDirectory) {
    layout.certificates.offset = Read32(headers, optionalHeader + securityEntryAt);
    layout.certificates.size = Read32(headers, optionalHeader + securityEntryAt + 4);
  }
  const size_t table = optionalHeader + optionalHeaderBytes;
  for (size_t i = 0; i < sections; ++i) {
    const size_t header = table + i * kSectionHeaderBytes;
    layout.sections.push_back(FileRange{Read32(headers, header + 20), Read32(headers, header + 16)});
  }
  return layout;
}

ImageFacts ReadImage(const std::wstring& path) {
  ImageFacts facts;
  UniqueFile file;
  if (!WithFileWaits([&] {
        file.reset(::CreateFileW(ForFileSystem(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        return static_cast<bool>(file);
      })) {
    return facts;
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size)) return facts;
  facts.fileSize = static_cast<uint64_t>(size.QuadPart);
  auto readHead = [&](size_t count, std::string& into) {
    into.assign(count, '\0');
    LARGE_INTEGER start{};
    DWORD got = 0;
    if (!::SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN) ||
        !::ReadFile(file.get(), &into[0], static_cast<DWORD>(count), &got, nullptr)) {
      return false;
    }
    into.resize(got);
    return true;
  };
  std::string head;
  if (!readHead(kMzHeaderBytes, head)) return facts;
  const std::optional<size_t> needed = ImageHeadBytesNeeded(head);
  if (!needed || !readHead(*needed, head)) return facts;
  facts.machine = ExecutableImageMachine(head);
  const std::optional<size_t> headers = ImageHeadersBytesNeeded(head);
  if (!headers) return facts;
  facts.headersSize = *headers;
  if (!readHead(*headers, head)) return facts;
  facts.layout = ImageLayoutOf(head);
  return facts;
}

}  // namespace brivon
