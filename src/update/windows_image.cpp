#include "update/windows_image.h"

#include <windows.h>

#include "common/file_waits.h"
#include "common/unique_handle.h"

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

uint16_t Read16(std::string_view bytes, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) | (static_cast<uint8_t>(bytes[at + 1]) << 8));
}

uint32_t Read32(std::string_view bytes, size_t at) {
  return static_cast<uint32_t>(Read16(bytes, at)) | (static_cast<uint32_t>(Read16(bytes, at + 2)) << 16);
}

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

std::optional<uint16_t> ReadExecutableImageMachine(const std::wstring& path) {
  UniqueFile file;
  if (!WithFileWaits([&] {
        file.reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        return static_cast<bool>(file);
      })) {
    return std::nullopt;
  }
  auto readAt = [&](size_t offset, size_t count, std::string& into) {
    into.assign(count, '\0');
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD got = 0;
    if (!::SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) ||
        !::ReadFile(file.get(), &into[0], static_cast<DWORD>(count), &got, nullptr)) {
      return false;
    }
    into.resize(got);
    return true;
  };
  std::string head;
  if (!readAt(0, kMzHeaderBytes, head)) return std::nullopt;
  const std::optional<size_t> needed = ImageHeadBytesNeeded(head);
  if (!needed) return std::nullopt;
  if (!readAt(0, *needed, head)) return std::nullopt;
  return ExecutableImageMachine(head);
}

}  // namespace brivon
