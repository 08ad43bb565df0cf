#include "files/file_hash.h"

#include <windows.h>
#include <bcrypt.h>

#include <vector>

#include "common/long_path.h"
#include "common/unique_handle.h"

namespace brivon {
namespace {

struct AlgorithmTraits {
  static BCRYPT_ALG_HANDLE Invalid() { return nullptr; }
  static void Close(BCRYPT_ALG_HANDLE h) { ::BCryptCloseAlgorithmProvider(h, 0); }
};
struct HashTraits {
  static BCRYPT_HASH_HANDLE Invalid() { return nullptr; }
  static void Close(BCRYPT_HASH_HANDLE h) { ::BCryptDestroyHash(h); }
};

bool Succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

bool Sha256OfFile(const std::wstring& path, std::string& digest) {
  digest.clear();
  // Every sharing: a scanner or a second start that holds the file must not make it unreadable.
  UniqueFile file(::CreateFileW(ForFileSystem(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return false;
  BCRYPT_ALG_HANDLE rawAlgorithm = nullptr;
  if (!Succeeded(::BCryptOpenAlgorithmProvider(&rawAlgorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return false;
  UniqueAny<BCRYPT_ALG_HANDLE, AlgorithmTraits> algorithm(rawAlgorithm);
  BCRYPT_HASH_HANDLE rawHash = nullptr;
  if (!Succeeded(::BCryptCreateHash(algorithm.get(), &rawHash, nullptr, 0, nullptr, 0, 0))) return false;
  UniqueAny<BCRYPT_HASH_HANDLE, HashTraits> hash(rawHash);

  std::vector<unsigned char> buffer(256 * 1024);
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) return false;
    if (read == 0) break;
    if (!Succeeded(::BCryptHashData(hash.get(), buffer.data(), read, 0))) return false;
  }
  unsigned char bytes[32];
  if (!Succeeded(::BCryptFinishHash(hash.get(), bytes, sizeof(bytes), 0))) return false;
  digest.assign(reinterpret_cast<const char*>(bytes), sizeof(bytes));
  return true;
}

std::string Sha256HexOfFile(const std::wstring& path) {
  std::string digest;
  if (!Sha256OfFile(path, digest)) return {};
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char byte : digest) {
    hex += kHex[byte >> 4];
    hex += kHex[byte & 0xF];
  }
  return hex;
}

}  // namespace brivon
