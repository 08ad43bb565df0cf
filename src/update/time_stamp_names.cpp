#include "update/time_stamp_names.h"

#include <cwchar>

namespace brivon {

std::wstring ArchiveTimeStamp(const SYSTEMTIME& when) {
  wchar_t text[32] = {};
  std::swprintf(text, 32, L"%02u%02u%02u_%02u%02u%02u", static_cast<unsigned>(when.wYear % 100),
                static_cast<unsigned>(when.wMonth), static_cast<unsigned>(when.wDay),
                static_cast<unsigned>(when.wHour), static_cast<unsigned>(when.wMinute),
                static_cast<unsigned>(when.wSecond));
  return text;
}

std::wstring VersionArchiveName(const SYSTEMTIME& when) { return ArchiveTimeStamp(when) + L"_brivon"; }

SYSTEMTIME CurrentLocalTime() {
  SYSTEMTIME now = {};
  ::GetLocalTime(&now);
  return now;
}

}  // namespace brivon
