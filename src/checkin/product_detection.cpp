#include "checkin/product_detection.h"

#include <windows.h>

#include "checkin/file_version.h"

namespace brivon {
namespace {

bool IsFile(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

std::wstring ProductPath(const std::wstring& programFolder, const Product& product) {
  std::wstring path = programFolder + L"\\";
  for (const char* c = product.executable; *c; ++c) path.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
  return path;
}

std::optional<Product> FindInstalledProduct(const std::wstring& programFolder) {
  for (const Product& product : kProductTable) {
    if (IsFile(ProductPath(programFolder, product))) return product;
  }
  return std::nullopt;
}

std::string FormatCheckinReport(std::string_view identifier, std::string_view version) {
  std::string report = "{\n  \"actualizador_version\": \"";
  report += kUpdaterVersion;
  report += "\",\n  \"Programa\": \"";
  report += identifier;
  report += "\",\n  \"Version\": \"";
  report += version;
  report += "\"\n}";
  return report;
}

bool ComposeCheckinReport(const std::wstring& programFolder, const Product& product, std::string& buffer) {
  std::wstring path = ProductPath(programFolder, product);
  if (!IsFile(path)) return false;
  buffer += FormatCheckinReport(product.identifier, ReadFileVersion(path));
  return true;
}

}  // namespace brivon
