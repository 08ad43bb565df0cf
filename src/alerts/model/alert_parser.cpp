#include "alerts/model/alert_parser.h"

#include <nlohmann/json.hpp>

#include <windows.h>

#include <cstdint>
#include <iterator>
#include <limits>
#include <sstream>
#include <utility>

#include "common/activity_log.h"
#include "common/log_line.h"
#include "common/program_folder.h"
#include "common/text.h"
#include "common/unique_handle.h"

namespace brivon {
namespace {

using Json = nlohmann::json;

// A key of the wrong type counts as absent: the document comes from a remote service and a
// schema slip there must not end the program.
std::string TextOr(const Json& object, const char* key, const std::string& fallback) {
  auto found = object.find(key);
  if (found == object.end() || !found->is_string()) return fallback;
  return found->get<std::string>();
}

AlertItem ReadItem(const Json& element, const ImageFetch& fetch) {
  AlertItem item;
  item.texto = TextOr(element, "texto", "");
  item.enlace = TextOr(element, "enlace", "");
  item.color_fondo = TextOr(element, "color_fondo", "#FFFFFF");
  item.color_texto = TextOr(element, "color_texto", "#000000");
  auto imagen = element.find("imagen");
  if (imagen != element.end() && imagen->is_string()) {
    item.imagen = imagen->get<std::string>();
    if (fetch) item.image = fetch(item.imagen);
  }
  return item;
}

Alert ReadAlert(const Json& element, const ImageFetch& fetch) {
  Alert alert;
  alert.tipo = TextOr(element, "tipo", "");
  auto columnas = element.find("columnas");
  if (columnas != element.end()) {
    alert.columnas = columnas->is_string() ? ColumnsFromText(columnas->get<std::string>()) : 1;
  }
  auto contenido = element.find("contenido");
  if (contenido != element.end() && contenido->is_array()) {
    for (const Json& entry : *contenido) {
      if (entry.is_object()) alert.contenido.push_back(ReadItem(entry, fetch));
    }
  }
  return alert;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

int32_t ColumnsFromText(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const size_t firstDigit = i;
  int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > int64_t{std::numeric_limits<int32_t>::max()} + 1) return 1;  // out of range
  }
  if (i == firstDigit) return 1;
  const int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<int32_t>::max()) return 1;
  return value < 1 ? 1 : static_cast<int32_t>(value);
}

namespace {

// The model from a document's root object. Built aside so that a failure half-way (a fetch that
// throws) leaves the caller's document as it was.
void FillDocument(const Json& root, AlertDocument& document, const ImageFetch& fetch) {
  AlertDocument fresh;
  fresh.titulo = TextOr(root, "titulo", "Alertas");
  fresh.color_fondo = TextOr(root, "color_fondo", document.color_fondo);
  fresh.color_titulo_fondo = TextOr(root, "color_titulo_fondo", document.color_titulo_fondo);
  fresh.color_titulo_texto = TextOr(root, "color_titulo_texto", document.color_titulo_texto);
  auto alertas = root.find("alertas");
  if (alertas != root.end() && alertas->is_array()) {
    for (const Json& element : *alertas) {
      if (element.is_object()) fresh.alertas.push_back(ReadAlert(element, fetch));
    }
  }
  document = std::move(fresh);
}

// One reading of the text: its first JSON value into the model. Throws only what a fetch throws.
DocumentReading ReadText(const std::string& text, AlertDocument& document, const ImageFetch& fetch) {
  DocumentReading reading;
  Json root;
  try {
    std::istringstream in(text);
    in >> root;  // not strict: text after the first value is never read
  } catch (const Json::parse_error& error) {
    reading.fault = DocumentFault::NotJson;
    reading.byte = error.byte;
    return reading;
  } catch (const Json::exception&) {
    // Numbers too large for a double, which the library reports apart.
    reading.fault = DocumentFault::NotJson;
    return reading;
  }
  if (!root.is_object()) {
    reading.fault = DocumentFault::RootNotObject;
    return reading;
  }
  auto alertas = root.find("alertas");
  if (alertas != root.end() && !alertas->is_array()) reading.fault = DocumentFault::AlertsNotList;
  FillDocument(root, document, fetch);
  reading.parsed = true;
  reading.alerts = document.alertas.size();
  return reading;
}

// The byte of the stored text at which a reading of its Windows-1252 conversion stopped: each
// byte is one UTF-16 unit there, and one to three bytes in the UTF-8 text that was read.
uint64_t StoredByte(const std::wstring& wide, uint64_t utf8Byte) {
  uint64_t utf8 = 0;
  for (size_t i = 0; i < wide.size(); ++i) {
    utf8 += wide[i] < 0x80 ? 1 : wide[i] < 0x800 ? 2 : 3;
    if (utf8 >= utf8Byte) return i + 1;
  }
  return wide.size() + (utf8Byte - utf8);
}

// The whole file; false with the system's error when it cannot be opened or read.
bool ReadWholeFile(const std::wstring& path, std::string& text, DWORD& error) {
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    error = ::GetLastError();
    return false;
  }
  char buffer[64 * 1024];
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr)) {
      error = ::GetLastError();
      return false;
    }
    if (read == 0) return true;
    text.append(buffer, read);
  }
}

}  // namespace

DocumentReading ParseAlertText(std::string_view text, AlertDocument& document, const ImageFetch& fetch) {
  try {
    const std::string asStored(text);
    DocumentReading reading = ReadText(asStored, document, fetch);
    if (reading.fault != DocumentFault::NotJson) return reading;
    // UTF-8 when the bytes are valid UTF-8, otherwise Windows-1252: the same rule as for the texts.
    const std::wstring wide = DocumentTextToWide(text);
    const std::string utf8 = WideToUtf8(wide);
    if (utf8 == asStored) return reading;
    reading = ReadText(utf8, document, fetch);
    reading.windows1252 = true;
    if (reading.byte != 0) reading.byte = StoredByte(wide, reading.byte);
    return reading;
  } catch (...) {
    // Out of memory or a failing fetch: pictures fetched so far go with the model built aside.
    return {};
  }
}

std::string DocumentReadingLogText(std::string_view path, const DocumentReading& reading) {
  std::string line = "DOCUMENTO_ILEGIBLE;" + std::string(path) + ";motivo=";
  switch (reading.fault) {
    case DocumentFault::NotJson:
      line += "NO_ES_JSON";
      if (reading.byte != 0) line += ";byte=" + std::to_string(reading.byte);
      return line;
    case DocumentFault::RootNotObject:
      return line + "RAIZ_NO_ES_OBJETO";
    case DocumentFault::AlertsNotList:
      return line + "ALERTAS_NO_ES_LISTA";
    case DocumentFault::None:
      break;
  }
  // Only alerts make the reading matter: the program's own error texts are Windows-1252 too.
  if (!reading.parsed || !reading.windows1252 || reading.alerts == 0) return {};
  return "DOCUMENTO_WINDOWS_1252;" + std::string(path) + ";alertas=" + std::to_string(reading.alerts);
}

std::string DocumentUnreadableLogText(std::string_view path, unsigned long error) {
  return LogLine("DOCUMENTO_ILEGIBLE").Field(path).Field("motivo=NO_SE_PUEDE_LEER").Err(error);
}

bool ParseAlertStream(std::istream& in, AlertDocument& document, const ImageFetch& fetch) {
  try {
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return ParseAlertText(text, document, fetch).parsed;
  } catch (...) {
    return false;  // out of memory
  }
}

namespace {

// The document's path as its log lines name it: in full.
std::string LoggedDocumentPath(const std::wstring& file) {
  wchar_t full[MAX_PATH * 2] = {};
  const DWORD length = ::GetFullPathNameW(file.c_str(), MAX_PATH * 2, full, nullptr);
  return NarrowLow8(length > 0 && length < MAX_PATH * 2 ? std::wstring(full, length) : file);
}

}  // namespace

void LogDocumentReading(const std::wstring& programFolder, const std::string& path, const DocumentReading& reading) {
  const std::string line = DocumentReadingLogText(LoggedDocumentPath(Utf8ToWide(path)), reading);
  if (!line.empty()) AppendCheckinLog(programFolder, line);
}

bool ParseAlertDocumentIn(const std::wstring& programFolder, const std::string& path, AlertDocument& document,
                          const ImageFetch& fetch) {
  const std::wstring file = Utf8ToWide(path);
  const std::string logged = LoggedDocumentPath(file);
  std::string text;
  DWORD error = 0;
  if (!ReadWholeFile(file, text, error)) {
    // No document at all (a first start without a sibling program) is no unreadable one.
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      AppendCheckinLog(programFolder, DocumentUnreadableLogText(logged, error));
    }
    return false;
  }
  const DocumentReading reading = ParseAlertText(text, document, fetch);
  const std::string line = DocumentReadingLogText(logged, reading);
  if (!line.empty()) AppendCheckinLog(programFolder, line);
  return reading.parsed;
}

bool ParseAlertDocument(const std::string& path, AlertDocument& document, const ImageFetch& fetch) {
  return ParseAlertDocumentIn(GetProgramFolder(), path, document, fetch);
}

}  // namespace brivon
