#include "update/package_naming.h"

#include <array>
#include <cwctype>

namespace brivon {
namespace {

constexpr std::string_view kReserved = "<>:\"/\\|?*";
// Longest name one folder entry can have.
constexpr size_t kMaxComponentLength = 255;

bool IsReplacedByte(unsigned char byte) {
  return byte < 0x20 || byte >= 0x80 || kReserved.find(static_cast<char>(byte)) != std::string_view::npos;
}

bool EqualsIgnoringCase(std::wstring_view text, std::wstring_view lowerConstant) {
  if (text.size() != lowerConstant.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (static_cast<wchar_t>(std::towlower(text[i])) != lowerConstant[i]) return false;
  }
  return true;
}

// Windows opens a device instead of a file for these, whatever extension follows and whatever
// spaces stand before the first dot.
bool IsDeviceName(std::wstring_view name) {
  static constexpr std::array<std::wstring_view, 26> kDevices = {
      L"con",  L"prn",  L"aux",  L"nul",  L"com0", L"com1", L"com2",   L"com3",    L"com4",
      L"com5", L"com6", L"com7", L"com8", L"com9", L"lpt0", L"lpt1",   L"lpt2",    L"lpt3",
      L"lpt4", L"lpt5", L"lpt6", L"lpt7", L"lpt8", L"lpt9", L"conin$", L"conout$"};
  std::wstring_view base = name.substr(0, name.find(L'.'));
  while (!base.empty() && base.back() == L' ') base.remove_suffix(1);
  for (std::wstring_view device : kDevices) {
    if (EqualsIgnoringCase(base, device)) return true;
  }
  return false;
}

// A name Windows would store under another name or refuse, or that has nothing before its
// extension (".zip" would unpack straight into the program folder).
bool IsUsableName(std::wstring_view name) {
  if (name.empty() || name.size() > kMaxComponentLength) return false;
  if (name.back() == L'.' || name.back() == L' ') return false;
  if (StripExtension(name).empty()) return false;
  return !IsDeviceName(name);
}

}  // namespace

std::wstring PackageFileNameFromUrl(std::string_view url) {
  std::string_view rest = url.substr(0, url.find_first_of("?#"));
  size_t slash = rest.rfind('/');
  std::string_view segment = slash == std::string_view::npos ? rest : rest.substr(slash + 1);

  std::wstring name;
  name.reserve(segment.size());
  for (char c : segment) {
    unsigned char byte = static_cast<unsigned char>(c);
    name.push_back(IsReplacedByte(byte) ? L'_' : static_cast<wchar_t>(byte));
  }
  if (!IsUsableName(name)) return kFallbackPackageName;
  return name;
}

std::wstring StripExtension(std::wstring_view nameOrPath) {
  size_t dot = nameOrPath.rfind(L'.');
  size_t separator = nameOrPath.find_last_of(L"\\/");
  if (dot == std::wstring_view::npos) return std::wstring(nameOrPath);
  if (separator != std::wstring_view::npos && separator > dot) return std::wstring(nameOrPath);
  return std::wstring(nameOrPath.substr(0, dot));
}

bool HasExtension(std::wstring_view name, std::wstring_view extension) {
  size_t dot = name.rfind(L'.');
  if (dot == std::wstring_view::npos) return false;
  return EqualsIgnoringCase(name.substr(dot + 1), extension);
}

bool IsZipPackage(std::wstring_view nameOrPath) { return HasExtension(nameOrPath, L"zip"); }

bool IsNeverReplacedByPackage(std::wstring_view name) {
  if (HasExtension(name, L"mdb") || HasExtension(name, L"bdorva")) return true;
  std::wstring lower(name);
  for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
  for (const wchar_t* own : {L"brivon.exe", L"7za.exe", L"actualizador_registros", L"actualizaciones", L"versiones",
                             L"brivon_en_uso.bloqueo"}) {
    if (lower == own) return true;
  }
  return false;
}

bool IsArchiveToolName(std::wstring_view name) { return EqualsIgnoringCase(name, L"7za.exe"); }

}  // namespace brivon
