// Reading the downloads log back in the archive tests.
#pragma once

#include <string>
#include <vector>

#include "support/test_env.h"

namespace brivon::archive_tests {

// The texts of the downloads log's lines, without their time stamp and separator.
inline std::vector<std::string> DownloadLogTexts(const std::wstring& programFolder) {
  std::string bytes = testing::ReadBytes(programFolder + L"\\actualizador_registros\\descargas.csv");
  std::vector<std::string> texts;
  size_t at = 0;
  while (at < bytes.size()) {
    size_t end = bytes.find("\r\n", at);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(at, end - at);
    texts.push_back(line.size() > 20 ? line.substr(20) : line);  // "YYYY-MM-DD hh:mm:ss;"
    at = end + 2;
  }
  return texts;
}

}  // namespace brivon::archive_tests
