#include "files/text_file.h"

#include <windows.h>
#include <share.h>

#include <cstdio>

#include "common/long_path.h"

namespace brivon {

bool WriteTextFile(const std::wstring& path, std::string_view text, unsigned long* error) {
  FILE* file = ::_wfsopen(ForFileSystem(path).c_str(), L"w", _SH_DENYNO);
  if (!file) {
    if (error) *error = ::GetLastError();
    return false;
  }
  bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  ok = std::fclose(file) == 0 && ok;
  if (!ok && error) {
    *error = ::GetLastError();
    if (*error == 0) *error = ERROR_WRITE_FAULT;
  }
  return ok;
}

std::string TextAsWritten(std::string_view text) {
  std::string written;
  written.reserve(text.size());
  for (const char c : text) {
    if (c == '\n') written += '\r';
    written += c;
  }
  return written;
}

}  // namespace brivon
