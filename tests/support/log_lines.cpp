#include "support/log_lines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "common/text.h"
#include "support/test_env.h"

namespace brivon::testing {

std::wstring LogPath(const std::wstring& programFolder, const std::wstring& name) {
  return programFolder + L"\\actualizador_registros\\" + name;
}

std::vector<std::string> LogLines(const std::wstring& path) {
  std::vector<std::string> lines;
  const std::string bytes = ReadBytes(path);
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find("\r\n", start);
    EXPECT_NE(end, std::string::npos) << "a line without CR LF in " << NarrowLow8(path);
    if (end == std::string::npos) end = bytes.size();
    lines.push_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::vector<std::string> LogTexts(const std::wstring& path) {
  static const std::regex frame(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d;)");
  std::vector<std::string> texts;
  for (const std::string& line : LogLines(path)) {
    EXPECT_TRUE(std::regex_search(line, frame)) << line;
    texts.push_back(line.size() >= 20 ? line.substr(20) : line);
  }
  return texts;
}

std::vector<std::string> LogTexts(const std::wstring& programFolder, const std::wstring& name) {
  return LogTexts(LogPath(programFolder, name));
}

std::vector<std::string> ExtractionTexts(const std::wstring& programFolder) {
  std::vector<std::string> texts = LogTexts(programFolder, L"extracciones.csv");
  texts.erase(std::remove_if(texts.begin(), texts.end(),
                             [](const std::string& text) { return text.rfind("PROCESO_REINTENTADO;", 0) == 0; }),
              texts.end());
  return texts;
}

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

std::vector<std::string> MarkersOf(const std::vector<std::string>& texts) {
  std::vector<std::string> markers;
  for (const auto& text : texts) markers.push_back(text.substr(0, text.find(';')));
  return markers;
}

}  // namespace brivon::testing
