// The text of one activity-log line, built field by field: a marker, then each field after a ";".
// Paths go in as the logs take them (NarrowLow8), numbers in decimal.
//   LogLine("COPIA_ERROR").Field(source).To(copy).Err(error)  ->  "COPIA_ERROR;<source>;->;<copy>;err=<error>"
#pragma once

#include <string>
#include <string_view>

#include "common/text.h"

namespace brivon {

class LogLine {
 public:
  explicit LogLine(std::string_view marker) : text_(marker) {}

  // ";" + text as it stands: a word, an address, "motivo=...".
  LogLine& Field(std::string_view text) {
    text_ += ';';
    text_ += text;
    return *this;
  }
  // ";" + a path.
  LogLine& Field(std::wstring_view path) { return Field(std::string_view(NarrowLow8(path))); }
  // ";->;" + a path: where something went.
  LogLine& To(std::wstring_view path) { return Field("->").Field(path); }
  // ";name=" + a number.
  template <typename Number>
  LogLine& Named(std::string_view name, Number number) {
    text_ += ';';
    text_ += name;
    text_ += '=';
    text_ += std::to_string(number);
    return *this;
  }
  // ";err=" + a system error, an HTTP status or a tool's exit code.
  template <typename Code>
  LogLine& Err(Code code) {
    return Named("err", code);
  }

  const std::string& Text() const { return text_; }
  operator const std::string&() const { return text_; }
  operator std::string_view() const { return text_; }

 private:
  std::string text_;
};

}  // namespace brivon
