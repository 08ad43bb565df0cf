// The Windows test kit's summary (ejecutar_pruebas.cmd runs it): reads the GoogleTest XML file of
// each test program in a results folder and prints each program's passed, failed and skipped rows,
// the reason of each skip, the name of each failure, then "N passed, N failed". A program that left
// no XML (it crashed or hung) left "<program>.sin_xml" holding its exit code instead, and counts as
// one failure. cmd cannot read XML, and Windows 7's PowerShell is too old to be relied on.
//   brivon_kit_summary RESULTS_FOLDER
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// An attribute's value, its entities read back and its line breaks made " / ".
std::string Attribute(const std::string& tag, const std::string& name) {
  const std::string key = " " + name + "=\"";
  const size_t start = tag.find(key);
  if (start == std::string::npos) return "";
  const size_t from = start + key.size();
  const std::string raw = tag.substr(from, tag.find('"', from) - from);
  static const std::pair<const char*, const char*> kEntities[] = {
      {"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&#x0A;", " / "}, {"&#x0D;", ""}};
  std::string out;
  for (size_t i = 0; i < raw.size();) {
    bool replaced = false;
    for (const auto& [entity, text] : kEntities) {
      if (raw.compare(i, std::char_traits<char>::length(entity), entity) == 0) {
        out += text;
        i += std::char_traits<char>::length(entity);
        replaced = true;
        break;
      }
    }
    if (!replaced) out += raw[i++];
  }
  return out;
}

struct Counts {
  unsigned passed = 0, failed = 0, skipped = 0;
};

// One program's rows, and its lines of the summary.
Counts Summarize(const std::string& xml, std::vector<std::string>& lines) {
  Counts counts;
  for (size_t at = xml.find("<testcase "); at != std::string::npos; at = xml.find("<testcase ", at + 1)) {
    const size_t tagEnd = xml.find('>', at);
    if (tagEnd == std::string::npos) break;
    const std::string tag = xml.substr(at, tagEnd - at);
    const bool selfClosed = tag.back() == '/';
    const size_t bodyEnd = selfClosed ? tagEnd : xml.find("</testcase>", tagEnd);
    const std::string body = xml.substr(tagEnd, bodyEnd == std::string::npos ? std::string::npos : bodyEnd - tagEnd);
    const std::string row = Attribute(tag, "classname") + "." + Attribute(tag, "name");
    if (Attribute(tag, "status") != "run") continue;  // disabled
    if (body.find("<failure ") != std::string::npos) {
      ++counts.failed;
      lines.push_back("  FAILED  " + row);
    } else if (Attribute(tag, "result") == "skipped") {
      ++counts.skipped;
      const size_t skip = body.find("<skipped ");
      std::string why = skip == std::string::npos ? "" : Attribute(body.substr(skip, body.find('>', skip) - skip), "message");
      // GoogleTest leads the message with "file:line / ": the reason is what follows.
      const size_t after = why.find(" / ");
      if (after != std::string::npos) why = why.substr(after + 3);
      lines.push_back("  skipped " + row + ": " + why);
    } else {
      ++counts.passed;
    }
  }
  return counts;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: brivon_kit_summary RESULTS_FOLDER\n");
    return 2;
  }
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1], ec)) {
    const std::string extension = entry.path().extension().string();
    if (extension == ".xml" || extension == ".sin_xml") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  Counts total;
  for (const auto& file : files) {
    const std::string program = file.stem().string();
    std::vector<std::string> lines;
    Counts counts;
    std::string note;
    if (file.extension() == ".sin_xml") {
      counts.failed = 1;
      std::string code = ReadAll(file);
      code.erase(std::remove_if(code.begin(), code.end(), [](char c) { return c == '\r' || c == '\n' || c == ' '; }),
                 code.end());
      note = " (ended with code " + code + " and wrote no results)";
    } else {
      counts = Summarize(ReadAll(file), lines);
    }
    std::printf("%s: %u passed, %u failed, %u skipped%s\n", program.c_str(), counts.passed, counts.failed,
                counts.skipped, note.c_str());
    for (const std::string& line : lines) std::printf("%s\n", line.c_str());
    total.passed += counts.passed;
    total.failed += counts.failed;
    total.skipped += counts.skipped;
  }
  std::printf("%u skipped in all\n", total.skipped);
  std::printf("%u passed, %u failed\n", total.passed, total.failed);
  return total.failed == 0 && !files.empty() ? 0 : 1;
}
